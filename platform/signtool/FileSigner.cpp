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

#include "FileFormat.h"
#include "Interruption.h"
#include "OsslsigncodeRun.h"
#include "PfxCheck.h"
#include "PinRefusalNote.h"
#include "ScratchOutput.h"
#include "TimestampRetry.h"
#include "TokenLock.h"
#include "authenticode/FileSigning.h"
#include "common/SafeFileWrite.h"
#include "common/TextUtil.h"
#include "keys/CertificateFile.h"

namespace {
// Room the signature needs beyond the file itself, when checking for a full disk.
constexpr off_t SignatureRoom = 1 << 20;

TSignResult Failure(std::string Reason) { return {TSignOutcome::Failed, std::move(Reason)}; }

TSignResult DiskFull(const std::string& File) {
  return Failure("There is not enough space on the disk to sign: " + File);
}

TSignResult OpenFailure(const std::string& File, int Error) {
  if (Error == ENOENT || Error == ENOTDIR) return Failure("File not found: " + File);
  if (Error == EACCES || Error == EPERM) return Failure("Access is denied: the file cannot be read: " + File);
  return Failure("Unable to open " + File + ": " + std::strerror(Error));
}

TSignResult LockedFailure(const std::string& File) { return Failure("The file is locked by another process: " + File); }

TSignResult InUseFailure(const std::string& File) {
  return Failure("The file is being written by another process: " + File);
}

TSignResult ReplaceFailure(const std::string& File, const TReplaceError& Error) {
  switch (Error.Kind) {
    case TReplaceError::TKind::Locked: return LockedFailure(File);
    case TReplaceError::TKind::InUse: return InUseFailure(File);
    case TReplaceError::TKind::NotWritable: return Failure("Access is denied: the file cannot be written: " + File);
    case TReplaceError::TKind::Changed:
      return Failure("The file was changed by another process while it was being signed, and is left as that "
                     "process wrote it: " + File);
    case TReplaceError::TKind::System: break;
  }
  if (Error.Error == ENOSPC || Error.Error == EDQUOT) return DiskFull(File);
  return Failure("Unable to replace " + File + ": " + Error.what());
}

// osslsigncode reads one password of at most 4095 bytes, drops line breaks at its end and a
// byte-order mark at its start, and refuses an empty one. What it would read unaltered, or empty.
std::optional<std::string> PasswordAsRead(const std::string& Password) {
  constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
  const std::string Read = Password.starts_with(ByteOrderMark) ? std::string(ByteOrderMark) + Password : Password;
  if (Read.size() > 4095 || Password.ends_with('\n') || Password.ends_with('\r')) return std::nullopt;
  return Read;
}

// osslsigncode's own explanation: its lines without the verdict and the OpenSSL error queue.
std::string Explanation(const std::string& Output) {
  std::size_t Start = 0;
  while (Start < Output.size()) {
    std::size_t End = Output.find('\n', Start);
    if (End == std::string::npos) End = Output.size();
    const std::string Line = Output.substr(Start, End - Start);
    Start = End + 1;
    if (!Line.empty() && Line != "Failed" && Line != "Succeeded" && Line.find(":error:") == std::string::npos)
      return Line;
  }
  return "osslsigncode failed without saying why";
}

// Whether the folder lacks room for the signed file: space is reserved for it in the file the
// new content would go to.
bool DiskIsFull(TFileReplacement& Replacement) {
  try {
    const int New = Replacement.Temporary();
    const bool Full = ::fallocate(New, 0, 0, Replacement.OriginalInfo().st_size + SignatureRoom) != 0 &&
                      (errno == ENOSPC || errno == EDQUOT);
    (void)!::ftruncate(New, 0);
    return Full;
  } catch (const TReplaceError& Error) {
    return Error.Error == ENOSPC || Error.Error == EDQUOT;
  }
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
}  // namespace

TFileSigner::TFileSigner(const TSignOptions& Options, std::optional<TTokenKey> TokenKey,
                         std::chrono::steady_clock::time_point Deadline)
    : Options(Options), TokenKey(std::move(TokenKey)), Deadline(Deadline) {
  InProcess = !this->TokenKey && Options.AuthenticodeUrl.empty() && Options.Rfc3161Url.empty();
  if (InProcess) {
    PrepareInProcess();
    return;
  }
  const std::string Password = Options.Password.value_or(std::string());
  const std::optional<std::string> AsRead = PasswordAsRead(Password);
  if (this->TokenKey) {
    KeyArguments = {"-pkcs11module", this->TokenKey->Module};
    if (this->TokenKey->CertFile.empty())
      KeyArguments.insert(KeyArguments.end(), {"-pkcs11cert", this->TokenKey->CertUri});
    else
      KeyArguments.insert(KeyArguments.end(), {"-certs", this->TokenKey->CertFile});
    KeyArguments.insert(KeyArguments.end(), {"-key", this->TokenKey->KeyUri});
    if (!Password.empty()) Input = Password;  // the PIN
  } else if (!Password.empty() && !AsRead) {
    // Opened here instead. Without a copy KeyArguments stay empty: the PFX is not usable.
    Input = UnprotectedPfx(Options.FilePath, Password);
    if (!Input) return;
    KeyArguments = {"-pkcs12", "/dev/stdin"};
  } else {
    KeyArguments = {"-pkcs12", Options.FilePath};
    // Without a password osslsigncode tries both none and the empty one.
    if (!Password.empty()) Input = *AsRead;
  }
  if (Input && KeyArguments[1] != "/dev/stdin") KeyArguments.insert(KeyArguments.end(), {"-readpass", "-"});
  if (!Options.AdditionalCertificates.empty())
    KeyArguments.insert(KeyArguments.end(), {"-ac", Options.AdditionalCertificates});
}

void TFileSigner::PrepareInProcess() {
  // osslsigncode's reading: no password or an empty one opens a PFX protected by either.
  const std::optional<std::string> Password =
      Options.Password && !Options.Password->empty() ? Options.Password : std::nullopt;
  Pfx = OpenPfx(Options.FilePath, Password);
  if (Options.AdditionalCertificates.empty()) return;
  std::optional<std::vector<TX509>> Read = ReadCertificateFile(Options.AdditionalCertificates);
  if (Read)
    ExtraCertificates = std::move(*Read);
  else
    ExtraCertificatesUnreadable = true;
}

TSignResult TFileSigner::SignInProcess(const std::string& File, TFileReplacement& Replacement) const {
  struct stat Info {};
  switch (Pfx.Failure) {
    case TPfxFailure::None: break;
    case TPfxFailure::CannotOpen:
      if (::stat(Options.FilePath.c_str(), &Info) != 0)
        return {TSignOutcome::CertificateUnusable, "File not found: " + Options.FilePath};
      return {TSignOutcome::CertificateUnusable, "The specified PFX file could not be opened: " + Options.FilePath};
    case TPfxFailure::NotPfx:
      return {TSignOutcome::CertificateUnusable, "The specified file is not a valid PFX file: " + Options.FilePath};
    case TPfxFailure::WrongPassword:
      return {TSignOutcome::CertificateUnusable, "The specified PFX password is not correct."};
    case TPfxFailure::Undecodable: return {TSignOutcome::CertificateUnusable, Pfx.Message};
  }
  if (ExtraCertificatesUnreadable)
    return {TSignOutcome::CertificateUnusable,
            "The additional certificates could not be read: " + Options.AdditionalCertificates};

  TSignatureSettings Settings;
  Settings.Md = EVP_get_digestbyname(Options.Digest.c_str());
  Settings.Description = Options.Description;
  Settings.DescriptionUrl = Options.DescriptionUrl;
  Settings.SigningTime = SigningTime();
  for (const TX509& Certificate : ExtraCertificates) Settings.ExtraCertificates.push_back(Certificate.get());
  Settings.AppendSignature = Options.AppendSignature;
  const TSignFileResult Result = SignOpenedFile(Replacement, Settings, *Pfx.Key);
  switch (Result.Failure) {
    case TSignFailure::None: return {TSignOutcome::Signed, {}};
    case TSignFailure::NotSignable: return Failure("This file format cannot be signed because it is not recognized.");
    case TSignFailure::CannotOpen: return OpenFailure(File, Result.Error);
    case TSignFailure::Locked: return ReplaceFailure(File, TReplaceError(TReplaceError::TKind::Locked, 0));
    case TSignFailure::NotWritable: return ReplaceFailure(File, TReplaceError(TReplaceError::TKind::NotWritable, 0));
    case TSignFailure::Changed: return ReplaceFailure(File, TReplaceError(TReplaceError::TKind::Changed, 0));
    case TSignFailure::System:
      if (Result.Error == ENOSPC || Result.Error == EDQUOT) return DiskFull(File);
      return Failure(Result.Message + " " + File);
    case TSignFailure::DamagedSignature:
    case TSignFailure::TooLarge:
    case TSignFailure::KeyFailed: return Failure(Result.Message + " " + File);
  }
  return Failure(Result.Message);
}

std::vector<std::string> TFileSigner::TimestampServers() const {
  std::vector<std::string> Result;
  if (!Options.AuthenticodeUrl.empty()) Result.insert(Result.end(), {"-t", Options.AuthenticodeUrl});
  if (!Options.Rfc3161Url.empty()) Result.insert(Result.end(), {"-ts", Options.Rfc3161Url});
  return Result;
}

std::vector<std::string> TFileSigner::Arguments(const std::string& In, const std::string& Out,
                                                const std::optional<std::vector<std::string>>& Timestamp) const {
  std::vector<std::string> Result{"sign"};
  Result.insert(Result.end(), KeyArguments.begin(), KeyArguments.end());
  Result.insert(Result.end(), {"-h", Options.Digest});
  if (Options.AppendSignature) Result.push_back("-nest");
  if (!Options.Description.empty()) {
    Result.push_back("-n");
    Result.push_back(Options.Description);
  }
  if (!Options.DescriptionUrl.empty()) {
    Result.push_back("-i");
    Result.push_back(Options.DescriptionUrl);
  }
  if (Timestamp) {
    const std::vector<std::string> Servers = TimestampServers();
    Result.insert(Result.end(), Servers.begin(), Servers.end());
    Result.insert(Result.end(), Timestamp->begin(), Timestamp->end());
  }
  Result.insert(Result.end(), {"-in", In, "-out", Out});
  return Result;
}

TRunResult TFileSigner::RunOnce(const std::string& In, TScratchOutput& Output, const TTimestampRetry* Stamping) const {
  const auto RunDeadline = Stamping != nullptr ? std::min(Deadline, Stamping->NextTryDeadline()) : Deadline;
  std::vector<TRunRequest::TWatch> Watches{{Output.WatchDescriptor(), [&Output] { Output.Claim(); }}};
  if (InterruptionDescriptor() >= 0) Watches.push_back({InterruptionDescriptor(), [] { ThrowIfInterrupted(); }});
  std::optional<std::vector<std::string>> Timestamp;
  if (Stamping != nullptr) Timestamp = Stamping->ProxyArguments();
  return RunOsslsigncode(Arguments(In, Output.Path(), Timestamp), Input, RunDeadline, std::move(Watches));
}

bool TFileSigner::AddTimestamp(const std::string& Folder, TScratchOutput& Signed,
                               std::optional<TScratchOutput>& Stamped, TTimestampRetry& Stamping,
                               bool FirstTryMade) const {
  Signed.Claim();
  const auto Try = [&](TTimestampRetry::TClock::time_point TryDeadline) {
    Stamped.emplace(Folder);
    if (!Stamped->IsValid() || Signed.Descriptor() < 0) return TRunResult{};
    std::vector<std::string> Arguments{"add", "-h", Options.Digest};
    const std::vector<std::string> Servers = TimestampServers();
    const std::vector<std::string> Proxy = Stamping.ProxyArguments();
    Arguments.insert(Arguments.end(), Servers.begin(), Servers.end());
    Arguments.insert(Arguments.end(), Proxy.begin(), Proxy.end());
    // The signed file has no name any more; osslsigncode reads it as its standard input.
    Arguments.insert(Arguments.end(), {"-in", "/dev/stdin", "-out", Stamped->Path()});
    std::vector<TRunRequest::TWatch> Watches{{Stamped->WatchDescriptor(), [&Stamped] { Stamped->Claim(); }}};
    if (InterruptionDescriptor() >= 0) Watches.push_back({InterruptionDescriptor(), [] { ThrowIfInterrupted(); }});
    return RunOsslsigncode(Arguments, std::nullopt, std::min(Deadline, TryDeadline), std::move(Watches),
                           Signed.Descriptor());
  };
  if (!FirstTryMade) {
    const TRunResult First = Try(Stamping.NextTryDeadline());
    if (First.Succeeded()) return true;
    if (!Stamping.WorthRetrying(First)) return false;
  }
  return Stamping.Again(Try);
}

TSignResult TFileSigner::Sign(const std::string& File) const {
  TFileReplacement Replacement;
  switch (Replacement.Open(File, false)) {
    case TFileReplacement::TOpenResult::Opened: break;
    case TFileReplacement::TOpenResult::Created:
    case TFileReplacement::TOpenResult::Failed: return OpenFailure(File, errno);
    case TFileReplacement::TOpenResult::NotRegular:
      if (S_ISDIR(Replacement.OriginalInfo().st_mode)) return Failure("The specified file is a folder: " + File);
      return Failure("The specified file is not a regular file: " + File);
    case TFileReplacement::TOpenResult::Locked: return LockedFailure(File);
    case TFileReplacement::TOpenResult::InUse: return InUseFailure(File);
  }
  try {
    Replacement.CheckWritable();
  } catch (const TReplaceError& Error) {
    return ReplaceFailure(File, Error);
  }
  if (InProcess) return SignInProcess(File, Replacement);
  if (KeyArguments.empty()) return Diagnose(File, Replacement, {});

  const std::string Folder = FolderOf(Replacement.Target());
  const bool WantsTimestamp = !Options.AuthenticodeUrl.empty() || !Options.Rfc3161Url.empty();
  std::optional<TTimestampRetry> Stamping;
  if (WantsTimestamp) Stamping.emplace(std::vector<std::string>{Options.AuthenticodeUrl, Options.Rfc3161Url});
  // A key on a token signs under the token's lock, which the other files wait for; its
  // time-stamp is added once the lock is released, so that their waits for the server overlap.
  const bool StampWhileSigning = WantsTimestamp && !TokenKey;
  std::optional<TScratchOutput> Output;
  TRunResult Run;
  const auto Attempt = [&](bool WithTimestamp) {
    Output.emplace(Folder);
    if (!Output->IsValid()) return false;
    Run = RunOnce(Replacement.Target(), *Output, WithTimestamp ? &*Stamping : nullptr);
    return true;
  };
  std::optional<TTokenLock> Lock;
  const std::string Pin = Options.Password.value_or(std::string());
  if (TokenKey) {
    Lock.emplace(TokenKey->Token, Deadline);
    switch (Lock->State()) {
      case TTokenLock::TState::Held: break;
      case TTokenLock::TState::Refused: return {TSignOutcome::CertificateUnusable, Lock->Problem()};
      case TTokenLock::TState::Expired:
        return Failure("The token was in use by another process until the time limit: " + File);
    }
    if (const TPinRefusal Refused = RefusalNotedMeanwhile(Lock->Descriptor(), Pin); Refused != TPinRefusal::None)
      return {TSignOutcome::CertificateUnusable, std::string(PinRefusalText(Refused))};
  }
  bool Started = Attempt(StampWhileSigning);
  bool Timestamped = StampWhileSigning && Run.Succeeded();
  bool StampAfter = WantsTimestamp && !StampWhileSigning;
  bool StampTried = false;
  // Signing again without the server tells a time-stamp failure from any other one; a killed
  // osslsigncode is not given a second go.
  if (StampWhileSigning && Started &&
      ((Run.End == TRunResult::TEnd::Exited && !Run.Succeeded()) || Run.End == TRunResult::TEnd::TimedOut)) {
    StampAfter = Stamping->WorthRetrying(Run);
    StampTried = true;
    Started = Attempt(false);
  }
  if (Lock && Started && Run.End == TRunResult::TEnd::Exited && !Run.Succeeded())
    if (const TPinRefusal Refused = PinRefusalOf(Run.Errors); Refused != TPinRefusal::None)
      NoteRefusal(Lock->Descriptor(), Refused, Pin);
  Lock.reset();
  if (!Started) {
    const int Error = Output->CreateError();
    if (Error == ENOSPC || Error == EDQUOT) return DiskFull(File);
    return Failure("Unable to create a temporary file beside " + File + ": " + std::strerror(Error));
  }

  switch (Run.End) {
    case TRunResult::TEnd::NotStarted: return Failure("Unable to run osslsigncode.");
    case TRunResult::TEnd::Signalled:
      return Failure("osslsigncode was ended by signal " + SignalName(Run.Signal) + " while signing: " + File);
    case TRunResult::TEnd::TimedOut: return Failure("Signing did not finish within the time limit: " + File);
    case TRunResult::TEnd::Unreadable: return Failure("Unable to read what osslsigncode wrote while signing: " + File);
    case TRunResult::TEnd::Exited: break;
  }
  if (!Run.Succeeded()) return Diagnose(File, Replacement, Run.Errors);
  // The signature stays as it is from here on, so a server sees the same request on each try.
  std::optional<TScratchOutput> Stamped;
  if (StampAfter) Timestamped = AddTimestamp(Folder, *Output, Stamped, *Stamping, StampTried);
  const TSignResult Result = Finish(File, Replacement, Timestamped && Stamped ? *Stamped : *Output);
  if (Result.Outcome == TSignOutcome::Signed && WantsTimestamp && !Timestamped)
    return {TSignOutcome::SignedWithoutTimestamp, {}};
  return Result;
}

// Makes osslsigncode's signed file the original's content.
TSignResult TFileSigner::Finish(const std::string& File, TFileReplacement& Replacement,
                                TScratchOutput& Output) const {
  Output.Claim();
  const int Signed = Output.Descriptor();
  struct stat Info {};
  if (Signed < 0 || ::fstat(Signed, &Info) != 0 || Info.st_size == 0)
    return Failure("osslsigncode did not write the signed file: " + File);
  try {
    const auto Size = static_cast<std::uint64_t>(Info.st_size);
    if (CopyFileRange(Signed, 0, Replacement.Temporary(), 0, Size) != Size)
      return Failure("osslsigncode did not write the signed file: " + File);
    ThrowIfInterrupted();
    Replacement.Commit();
  } catch (const TReplaceError& Error) {
    return ReplaceFailure(File, Error);
  }
  return {TSignOutcome::Signed, {}};
}

TSignResult TFileSigner::Diagnose(const std::string& File, TFileReplacement& Replacement,
                                  const std::string& Output) const {
  if (DiskIsFull(Replacement)) return DiskFull(File);
  if (TokenKey) {
    if (const std::optional<std::string> Problem = TokenProblem(*TokenKey, Output))
      return {TSignOutcome::CertificateUnusable, *Problem};
    if (!IsSignableFormat(File, Replacement.Original()))
      return Failure("This file format cannot be signed because it is not recognized.");
    return Failure("An unexpected internal error has occurred.\nError information: \"" + Explanation(Output) + "\"");
  }
  struct stat Info {};
  switch (CheckPfx(Options.FilePath, Options.Password)) {
    case TPfxState::CannotOpen:
      if (::stat(Options.FilePath.c_str(), &Info) != 0)
        return {TSignOutcome::CertificateUnusable, "File not found: " + Options.FilePath};
      return {TSignOutcome::CertificateUnusable, "The specified PFX file could not be opened: " + Options.FilePath};
    case TPfxState::NotPfx:
      return {TSignOutcome::CertificateUnusable, "The specified file is not a valid PFX file: " + Options.FilePath};
    case TPfxState::WrongPassword:
      return {TSignOutcome::CertificateUnusable, "The specified PFX password is not correct."};
    case TPfxState::Usable:
    case TPfxState::Unknown:
      break;
  }
  if (!IsSignableFormat(File, Replacement.Original()))
    return Failure("This file format cannot be signed because it is not recognized.");
  return Failure("An unexpected internal error has occurred.\nError information: \"" + Explanation(Output) + "\"");
}
