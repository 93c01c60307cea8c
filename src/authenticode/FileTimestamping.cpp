#include "authenticode/FileTimestamping.h"

#include "authenticode/FileSigningSteps.h"
#include "authenticode/Pkcs7Parts.h"
#include "common/SafeFileWrite.h"
#include "authenticode/SignedContainer.h"

namespace {
bool HasTimestamp(PKCS7_SIGNER_INFO* Signer) {
  return ParseCountersignature(Signer) != nullptr || !UnsignedAttributeValues(Signer, Rfc3161TimestampOid).empty();
}

TSignFileResult TimestampWritable(TFileReplacement& File, const TTimestampClient& Timestamps) {
  const std::optional<TSignedContainer> Container =
      LocateSignature(File.Original(), static_cast<std::uint64_t>(File.OriginalInfo().st_size));
  if (!Container) return FailedWith(TSignFailure::System, "The file could not be read to the end.");
  if (Container->Kind != TContainerKind::Pe && Container->Kind != TContainerKind::Cab)
    return FailedWith(TSignFailure::NotSignable, "This file format cannot be signed because it is not recognized.");
  if (Container->Slot == TSignatureSlot::Absent) return FailedWith(TSignFailure::Unsigned, "No signature found.");
  if (Container->Slot != TSignatureSlot::Present)
    return FailedWith(TSignFailure::DamagedSignature, "The file's existing signature area is damaged or misplaced.");
  const TPkcs7 Signature = ParsePkcs7(Container->SignedData);
  PKCS7_SIGNER_INFO* Signer =
      Signature && PKCS7_type_is_signed(Signature.get())
          ? sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(Signature.get()), 0)
          : nullptr;
  if (!Signer) return FailedWith(TSignFailure::DamagedSignature, "The file's signature cannot be read.");
  TSignFileResult Result;
  if (HasTimestamp(Signer)) {
    Result.HadTimestamp = true;
    return Result;
  }
  File.CheckWritable();
  StampFirstSigner(Signature.get(), Timestamps, Result);
  if (Result.Failure != TSignFailure::None || !Result.Timestamped) return Result;
  // The digest is not needed, only the PE checksum of the copy: any algorithm does.
  const std::optional<TPreparedCopy> Copy = PrepareSigningCopy(File, EVP_sha256(), Result);
  if (!Copy) return Result;
  WriteSignedCopy(File, *Copy, Signature.get(), Result);
  return Result;
}
}  // namespace

TSignFileResult TimestampOpenedFile(TFileReplacement& File, const TTimestampClient& Timestamps) {
  try {
    return TimestampWritable(File, Timestamps);
  } catch (const TReplaceError& Error) {
    return ReplaceFailure(Error);
  }
}
