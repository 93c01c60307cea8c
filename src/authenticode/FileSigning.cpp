#include "authenticode/FileSigning.h"

#include "authenticode/FileSigningSteps.h"
#include "authenticode/SignatureBuilder.h"
#include "authenticode/Pkcs7Parts.h"
#include "common/SafeFileWrite.h"

namespace {
// The new signature, timestamped when asked, or the file's signature with the new one nested in it.
TBuiltSignature Sign(const TSigningCopy& Copy, const TSignatureSettings& Settings, std::vector<std::uint8_t> FileDigest,
                     TSigningKey& Key, TSignFileResult& Result) {
  TSignatureRequest Request{Copy.Kind,
                            Settings.Md,
                            std::move(FileDigest),
                            Settings.Description,
                            Settings.DescriptionUrl,
                            Settings.SigningTime,
                            Settings.ExtraCertificates,
                            std::nullopt};
  const bool Nesting = Settings.AppendSignature && !Copy.ExistingSignature.empty();
  TBuiltSignature Primary;
  if (Nesting) {
    Primary.Signature = ParsePkcs7(Copy.ExistingSignature);
    if (!Primary.Signature) return {nullptr, "The file's existing signature cannot be read."};
    Request.SequenceNumber = NestedSignatureCount(Primary.Signature.get()) + 1;
  }
  TBuiltSignature New = BuildSignature(Request, Key);
  if (!New.Signature) return New;
  if (Settings.Timestamps) {
    StampFirstSigner(New.Signature.get(), *Settings.Timestamps, Result);
    if (Result.Failure != TSignFailure::None) return {nullptr, Result.Message};
  }
  if (!Nesting) return New;
  if (!AppendNestedSignature(Primary.Signature.get(), New.Signature.get()))
    return {nullptr, "The new signature cannot be added to the file's signature."};
  return Primary;
}

TSignFileResult SignWritable(TFileReplacement& File, const TSignatureSettings& Settings, TSigningKey& Key) {
  File.CheckWritable();
  TSignFileResult Result;
  std::optional<TPreparedCopy> Copy = PrepareSigningCopy(File, Settings.Md, Result);
  if (!Copy) return Result;
  const TBuiltSignature Built = Sign(Copy->Layout, Settings, std::move(Copy->Digest.Digest), Key, Result);
  if (Result.Failure != TSignFailure::None) return Result;
  if (!Built.Signature) return FailedWith(TSignFailure::KeyFailed, Built.Error);
  WriteSignedCopy(File, *Copy, Built.Signature.get(), Result);
  return Result;
}
}  // namespace

TSignFileResult SignFile(const std::string& Path, const TSignatureSettings& Settings, TSigningKey& Key) {
  TFileReplacement File;
  switch (File.Open(Path, false)) {
    case TFileReplacement::TOpenResult::Opened: break;
    case TFileReplacement::TOpenResult::Locked:
      return FailedWith(TSignFailure::Locked, "The file is locked by another process.");
    case TFileReplacement::TOpenResult::InUse: return BeingWritten();
    case TFileReplacement::TOpenResult::Created:
    case TFileReplacement::TOpenResult::NotRegular:
    case TFileReplacement::TOpenResult::Failed: return FailedWith(TSignFailure::CannotOpen, "The file cannot be opened.");
  }
  return SignOpenedFile(File, Settings, Key);
}

TSignFileResult SignOpenedFile(TFileReplacement& File, const TSignatureSettings& Settings, TSigningKey& Key) {
  try {
    return SignWritable(File, Settings, Key);
  } catch (const TReplaceError& Error) {
    return ReplaceFailure(Error);
  }
}
