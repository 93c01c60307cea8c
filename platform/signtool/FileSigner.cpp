#include "FileSigner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "CommandOutput.h"
#include "Interruption.h"
#include "authenticode/FileSigning.h"
#include "authenticode/FileTimestamping.h"
#include "common/SafeFileWrite.h"

namespace {
TSignResult Failure(std::string Reason) { return {TSignOutcome::Failed, std::move(Reason), {}, 0, {}}; }

// A file done: Outcome with what the timestamp tries gave.
TSignResult Done(TSignOutcome Outcome, const TSignFileResult& Result) {
  return {Outcome, {}, Result.TimestampFailures, Result.TimestampTime, Result.TimestampServer};
}

TSignResult DiskFull(const std::string& File) {
  return Failure(Say(TMessage::DiskFull, {File}));
}

TSignResult OpenFailure(const std::string& File, int Error) {
  if (Error == ENOENT || Error == ENOTDIR) return Failure(Say(TMessage::FileNotFound, {File}));
  if (Error == EACCES || Error == EPERM) return Failure(Say(TMessage::ReadDenied, {File}));
  return Failure(Say(TMessage::CannotOpen, {File, std::strerror(Error)}));
}

TSignResult LockedFailure(const std::string& File) { return Failure(Say(TMessage::Locked, {File})); }

TSignResult InUseFailure(const std::string& File) {
  return Failure(Say(TMessage::InUse, {File}));
}

TSignResult ReplaceFailure(const std::string& File, const TReplaceError& Error) {
  switch (Error.Kind) {
    case TReplaceError::TKind::Locked: return LockedFailure(File);
    case TReplaceError::TKind::InUse: return InUseFailure(File);
    case TReplaceError::TKind::NotWritable: return Failure(Say(TMessage::WriteDenied, {File}));
    case TReplaceError::TKind::Changed:
      return Failure(Say(TMessage::ChangedMeanwhile, {File}));
    case TReplaceError::TKind::System: break;
  }
  if (Error.Error == ENOSPC || Error.Error == EDQUOT) return DiskFull(File);
  return Failure(Say(TMessage::CannotReplace, {File, Error.what()}));
}

// The signing time: SOURCE_DATE_EPOCH when it is set (reproducible builds), else now.
std::int64_t SigningTime() {
  if (const char* Epoch = std::getenv("SOURCE_DATE_EPOCH"); Epoch != nullptr && *Epoch != '\0') {
    char* End = nullptr;
    errno = 0;
    const long long Seconds = std::strtoll(Epoch, &End, 10);
    if (errno == 0 && *End == '\0' && Seconds >= 0) return Seconds;
  }
  return static_cast<std::int64_t>(std::time(nullptr));
}

// Opens File to be rewritten; a failure when it cannot be.
std::optional<TSignResult> OpenForRewrite(TFileReplacement& Replacement, const std::string& File) {
  switch (Replacement.Open(File, false)) {
    case TFileReplacement::TOpenResult::Opened: break;
    case TFileReplacement::TOpenResult::Created:
    case TFileReplacement::TOpenResult::Failed: return OpenFailure(File, errno);
    case TFileReplacement::TOpenResult::NotRegular:
      if (S_ISDIR(Replacement.OriginalInfo().st_mode)) return Failure(Say(TMessage::IsFolder, {File}));
      return Failure(Say(TMessage::NotRegularFile, {File}));
    case TFileReplacement::TOpenResult::Locked: return LockedFailure(File);
    case TFileReplacement::TOpenResult::InUse: return InUseFailure(File);
  }
  try {
    Replacement.CheckWritable();
  } catch (const TReplaceError& Error) {
    return ReplaceFailure(File, Error);
  }
  return std::nullopt;
}

// The failure a signing or timestamping of File ended with; throws TInterrupted for an interruption.
TSignResult FailureOf(const TSignFileResult& Result, const std::string& File) {
  switch (Result.Failure) {
    case TSignFailure::None: break;
    case TSignFailure::Interrupted: ThrowIfInterrupted(); break;
    case TSignFailure::NotSignable: return Failure(Say(TMessage::NotSignable));
    case TSignFailure::Unsigned: return Failure(Say(TMessage::NoSignatureIn, {File}));
    case TSignFailure::CannotOpen: return OpenFailure(File, Result.Error);
    case TSignFailure::Locked: return LockedFailure(File);
    case TSignFailure::InUse: return InUseFailure(File);
    case TSignFailure::NotWritable: return ReplaceFailure(File, TReplaceError(TReplaceError::TKind::NotWritable, 0));
    case TSignFailure::Changed: return ReplaceFailure(File, TReplaceError(TReplaceError::TKind::Changed, 0));
    case TSignFailure::System:
      if (Result.Error == ENOSPC || Result.Error == EDQUOT) return DiskFull(File);
      break;
    case TSignFailure::KeyFailed:
      ThrowIfInterrupted();  // the key gave up waiting for its token
      break;
    case TSignFailure::DamagedSignature:
    case TSignFailure::TooLarge: break;
  }
  return Failure(Result.Message + " " + File);
}
}  // namespace

TFileSigner::TFileSigner(const TSignOptions& Options, TSigningKey& Key, const std::vector<TX509>& ExtraCertificates,
                         const TTimestampClient* Timestamps)
    : Options(Options), Key(Key), ExtraCertificates(ExtraCertificates), Timestamps(Timestamps) {}

TSignResult TFileSigner::Sign(const std::string& File) const {
  TFileReplacement Replacement;
  if (std::optional<TSignResult> Refused = OpenForRewrite(Replacement, File)) return std::move(*Refused);

  TSignatureSettings Settings;
  Settings.Md = EVP_get_digestbyname(Options.Digest.c_str());
  Settings.Description = Options.Description;
  Settings.DescriptionUrl = Options.DescriptionUrl;
  Settings.SigningTime = SigningTime();
  for (const TX509& Certificate : ExtraCertificates) Settings.ExtraCertificates.push_back(Certificate.get());
  Settings.AppendSignature = Options.AppendSignature;
  Settings.Timestamps = Timestamps;
  const TSignFileResult Result = SignOpenedFile(Replacement, Settings, Key);
  if (Result.Failure != TSignFailure::None) return FailureOf(Result, File);
  if (Timestamps && !Result.Timestamped) return Done(TSignOutcome::SignedWithoutTimestamp, Result);
  return Done(TSignOutcome::Signed, Result);
}

TSignResult TimestampFile(const std::string& File, const TTimestampClient& Timestamps) {
  TFileReplacement Replacement;
  if (std::optional<TSignResult> Refused = OpenForRewrite(Replacement, File)) return std::move(*Refused);
  const TSignFileResult Result = TimestampOpenedFile(Replacement, Timestamps);
  if (Result.Failure != TSignFailure::None) return FailureOf(Result, File);
  if (Result.HadTimestamp) return Done(TSignOutcome::AlreadyTimestamped, Result);
  return Done(Result.Timestamped ? TSignOutcome::Signed : TSignOutcome::SignedWithoutTimestamp, Result);
}
