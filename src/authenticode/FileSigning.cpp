#include "authenticode/FileSigning.h"

#include <cstring>

#include "authenticode/CopyDigest.h"
#include "authenticode/SignatureBuilder.h"
#include "authenticode/SigningCopy.h"
#include "authenticode/TimestampEmbed.h"
#include "common/Pkcs7Parts.h"
#include "common/SafeFileWrite.h"
#include "common/SignedContainer.h"

namespace {
TSignFileResult Failed(TSignFailure Failure, std::string Message) { return {Failure, std::move(Message), 0, false, 0, {}, {}}; }

TSignFileResult CopyFailure(TCopyFault Fault) {
  switch (Fault) {
    case TCopyFault::None: break;
    case TCopyFault::Unreadable: return Failed(TSignFailure::System, "The file could not be read to the end.");
    case TCopyFault::NotSignable:
      return Failed(TSignFailure::NotSignable, "This file format cannot be signed because it is not recognized.");
    case TCopyFault::DamagedSignature:
      return Failed(TSignFailure::DamagedSignature, "The file's existing signature area is damaged or misplaced.");
    case TCopyFault::TooLarge: return Failed(TSignFailure::TooLarge, "The file is too large to be signed.");
  }
  return {};
}

TSignFileResult BeingWritten() {
  return Failed(TSignFailure::InUse, "The file is being written by another process.");
}

TSignFileResult ReplaceFailure(const TReplaceError& Error) {
  switch (Error.Kind) {
    case TReplaceError::TKind::Locked: return Failed(TSignFailure::Locked, "The file is locked by another process.");
    case TReplaceError::TKind::InUse: return BeingWritten();
    case TReplaceError::TKind::NotWritable:
      return Failed(TSignFailure::NotWritable, "The file is read-only or may not be written.");
    case TReplaceError::TKind::Changed:
      return Failed(TSignFailure::Changed, "The file was changed by another process while it was being signed.");
    case TReplaceError::TKind::System: break;
  }
  return {TSignFailure::System, std::string("The signed file could not be written: ") + std::strerror(Error.Error) + ".",
          Error.Error, false, 0, {}, {}};
}

// Asks for a timestamp over the only signer of Signature and puts it in; the tries go into Result.
void Stamp(PKCS7* Signature, const TTimestampClient& Timestamps, TSignFileResult& Result) {
  PKCS7_SIGNER_INFO* Signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(Signature), 0);
  if (!Signer) return;
  TTimestampOutcome Outcome = Timestamps.Stamp(SignatureValueOf(Signer));
  Result.TimestampFailures = std::move(Outcome.Failures);
  if (Outcome.Interrupted) {
    Result.Failure = TSignFailure::Interrupted;
    Result.Message = "Signing was interrupted.";
    return;
  }
  if (!Outcome.Token) return;
  if (!AddTimestamp(Signature, Signer, *Outcome.Token)) {
    Result.Failure = TSignFailure::System;
    Result.Message = "The timestamp could not be put into the signature.";
    return;
  }
  Result.Timestamped = true;
  Result.TimestampTime = Outcome.Token->Time;
  Result.TimestampServer = Outcome.Token->Server;
}

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
    Stamp(New.Signature.get(), *Settings.Timestamps, Result);
    if (Result.Failure != TSignFailure::None) return {nullptr, Result.Message};
  }
  if (!Nesting) return New;
  if (!AppendNestedSignature(Primary.Signature.get(), New.Signature.get()))
    return {nullptr, "The new signature cannot be added to the file's signature."};
  return Primary;
}

TSignFileResult SignWritable(TFileReplacement& File, const TSignatureSettings& Settings, TSigningKey& Key) {
  File.CheckWritable();
  const int Copy = File.Temporary();
  const TSigningCopy Layout =
      WriteSigningCopy(File.Original(), static_cast<std::uint64_t>(File.OriginalInfo().st_size), Copy);
  if (Layout.Fault != TCopyFault::None) return CopyFailure(Layout.Fault);

  const std::optional<TSignedContainer> Prepared = LocateSignature(Copy, Layout.ContentEnd);
  if (!Prepared || Prepared->DigestedParts.empty())
    return Failed(TSignFailure::System, "The file's signed parts could not be determined.");
  std::optional<TCopyDigest> Digest = DigestCopy(Copy, Layout.ContentEnd, Prepared->DigestedParts, Settings.Md);
  if (!Digest) return Failed(TSignFailure::System, "The file's digest could not be computed.");

  TSignFileResult Result;
  const TBuiltSignature Built = Sign(Layout, Settings, std::move(Digest->Digest), Key, Result);
  if (Result.Failure != TSignFailure::None) return Result;
  if (!Built.Signature) return Failed(TSignFailure::KeyFailed, Built.Error);
  const std::vector<std::uint8_t> Der = SignatureDer(Built.Signature.get());
  if (Der.empty()) return Failed(TSignFailure::System, "The signature could not be encoded.");
  AppendSignature(Copy, Layout, Der, Digest->Checksum);
  File.Commit();
  return Result;
}
}  // namespace

TSignFileResult SignFile(const std::string& Path, const TSignatureSettings& Settings, TSigningKey& Key) {
  TFileReplacement File;
  switch (File.Open(Path, false)) {
    case TFileReplacement::TOpenResult::Opened: break;
    case TFileReplacement::TOpenResult::Locked: return Failed(TSignFailure::Locked, "The file is locked by another process.");
    case TFileReplacement::TOpenResult::InUse: return BeingWritten();
    case TFileReplacement::TOpenResult::Created:
    case TFileReplacement::TOpenResult::NotRegular:
    case TFileReplacement::TOpenResult::Failed: return Failed(TSignFailure::CannotOpen, "The file cannot be opened.");
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
