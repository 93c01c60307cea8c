#include "authenticode/FileSigningSteps.h"

#include <cstring>

#include "authenticode/SignatureBuilder.h"
#include "authenticode/TimestampEmbed.h"
#include "common/SafeFileWrite.h"
#include "authenticode/SignedContainer.h"

namespace {
TSignFileResult CopyFailure(TCopyFault Fault) {
  switch (Fault) {
    case TCopyFault::None: break;
    case TCopyFault::Unreadable: return FailedWith(TSignFailure::System, "The file could not be read to the end.");
    case TCopyFault::NotSignable:
      return FailedWith(TSignFailure::NotSignable, "This file format cannot be signed because it is not recognized.");
    case TCopyFault::DamagedSignature:
      return FailedWith(TSignFailure::DamagedSignature, "The file's existing signature area is damaged or misplaced.");
    case TCopyFault::TooLarge: return FailedWith(TSignFailure::TooLarge, "The file is too large to be signed.");
  }
  return {};
}
}  // namespace

TSignFileResult FailedWith(TSignFailure Failure, std::string Message) {
  TSignFileResult Result;
  Result.Failure = Failure;
  Result.Message = std::move(Message);
  return Result;
}

TSignFileResult BeingWritten() {
  return FailedWith(TSignFailure::InUse, "The file is being written by another process.");
}

TSignFileResult ReplaceFailure(const TReplaceError& Error) {
  switch (Error.Kind) {
    case TReplaceError::TKind::Locked: return FailedWith(TSignFailure::Locked, "The file is locked by another process.");
    case TReplaceError::TKind::InUse: return BeingWritten();
    case TReplaceError::TKind::NotWritable:
      return FailedWith(TSignFailure::NotWritable, "The file is read-only or may not be written.");
    case TReplaceError::TKind::Changed:
      return FailedWith(TSignFailure::Changed, "The file was changed by another process while it was being signed.");
    case TReplaceError::TKind::System: break;
  }
  TSignFileResult Result =
      FailedWith(TSignFailure::System, std::string("The signed file could not be written: ") + std::strerror(Error.Error) + ".");
  Result.Error = Error.Error;
  return Result;
}

std::optional<TPreparedCopy> PrepareSigningCopy(TFileReplacement& File, const EVP_MD* Md, TSignFileResult& Result) {
  const int Copy = File.Temporary();
  TSigningCopy Layout = WriteSigningCopy(File.Original(), static_cast<std::uint64_t>(File.OriginalInfo().st_size), Copy);
  if (Layout.Fault != TCopyFault::None) {
    Result = CopyFailure(Layout.Fault);
    return std::nullopt;
  }
  // The copy's content is final but for the signature appended and the checksum: it goes to disk
  // while it is digested, signed and timestamped.
  File.StartWriting();
  const std::optional<TSignedContainer> Prepared = LocateSignature(Copy, Layout.ContentEnd);
  if (!Prepared || Prepared->DigestedParts.empty()) {
    Result = FailedWith(TSignFailure::System, "The file's signed parts could not be determined.");
    return std::nullopt;
  }
  std::optional<TCopyDigest> Digest = DigestCopy(Copy, Layout.ContentEnd, Prepared->DigestedParts, Md);
  if (!Digest) {
    Result = FailedWith(TSignFailure::System, "The file's digest could not be computed.");
    return std::nullopt;
  }
  return TPreparedCopy{std::move(Layout), std::move(*Digest)};
}

void StampFirstSigner(PKCS7* Signature, const TTimestampClient& Timestamps, TSignFileResult& Result) {
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

void WriteSignedCopy(TFileReplacement& File, const TPreparedCopy& Copy, PKCS7* Signature, TSignFileResult& Result) {
  const std::vector<std::uint8_t> Der = SignatureDer(Signature);
  if (Der.empty()) {
    Result.Failure = TSignFailure::System;
    Result.Message = "The signature could not be encoded.";
    return;
  }
  AppendSignature(File.Temporary(), Copy.Layout, Der, Copy.Digest.Checksum);
  File.Commit();
}
