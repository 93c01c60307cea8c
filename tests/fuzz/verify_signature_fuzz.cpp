// Feeds arbitrary files to the signature check: locating the signature in a PE image or a
// cabinet, the file digest, the PKCS#7 signature, its nested signatures and timestamps must
// never crash or read outside the file, and the digested parts must lie inside it. A signature
// the locator accepts leaves out of the digest nothing but itself and the header fields it
// records, and no byte the loader maps. The input is a file in memory, read by position as a
// file on disk is.
#include <openssl/err.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <variant>
#include <vector>

#include "authenticode/FileDigest.h"
#include "common/PeHeaders.h"
#include "authenticode/Pkcs7Parts.h"
#include "authenticode/SignatureCheck.h"
#include "authenticode/SignedContainer.h"
#include "authenticode/TrustStore.h"

namespace {
bool Inside(std::uint64_t Pos, std::uint64_t Length, const TByteRange& Range) {
  return Pos >= Range.Pos && Pos - Range.Pos <= Range.Length && Length <= Range.Pos + Range.Length - Pos;
}

// Every gap between the digested parts lies in one of the holes a signature may leave.
void CheckCoverage(const TSignedContainer& Container, std::uint64_t Size, std::span<const std::uint8_t> Bytes) {
  std::vector<TByteRange> Holes{Container.Signature};
  if (Container.Kind == TContainerKind::Pe) {
    Holes.push_back({Container.CheckSumPos, 4});
    Holes.push_back({Container.CertEntryPos, 8});
    const auto Parsed = ReadPeHeaders(Bytes);
    const auto* Pe = std::get_if<TPeHeaders>(&Parsed);
    if (Pe == nullptr || !Pe->Sections || Container.Signature.Pos < Pe->SizeOfHeaders) std::abort();
    for (const TPeSection& Section : *Pe->Sections)
      if (Section.RawSize > 0 && Container.Signature.Pos < std::uint64_t{Section.RawPos} + Section.RawSize) std::abort();
  } else {
    Holes.push_back({4, 4});
    Holes.push_back({34, 22});
  }
  if (Container.Signature.Pos + Container.Signature.Length != Size) std::abort();
  std::uint64_t Covered = 0;
  const auto CheckGap = [&Holes](std::uint64_t From, std::uint64_t To) {
    // Holes do not touch one another, so a gap lies in one of them or is not allowed.
    for (std::uint64_t Pos = From; Pos < To;) {
      const auto Hole = std::find_if(Holes.begin(), Holes.end(), [Pos](const TByteRange& H) { return Inside(Pos, 1, H); });
      if (Hole == Holes.end()) std::abort();
      Pos = Hole->Pos + Hole->Length;
    }
  };
  for (const TByteRange& Part : Container.DigestedParts) {
    if (Part.Pos < Covered) std::abort();
    CheckGap(Covered, Part.Pos);
    Covered = Part.Pos + Part.Length;
  }
  CheckGap(Covered, Size);
}

int InputFile() {
  static const int Fd = memfd_create("verify_signature_fuzz", MFD_CLOEXEC);
  if (Fd < 0) std::abort();
  return Fd;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const TTrustStore Trust = TrustStore({});
  const int Fd = InputFile();
  if (ftruncate(Fd, 0) != 0 || (Size > 0 && pwrite(Fd, Data, Size, 0) != static_cast<ssize_t>(Size))) std::abort();
  const std::optional<TSignedContainer> Container = LocateSignature(Fd, Size);
  if (!Container) std::abort();  // nothing changes the file meanwhile
  for (const TByteRange& Part : Container->DigestedParts)
    if (Part.Pos > Size || Part.Length > Size - Part.Pos) std::abort();
  if (Container->Slot == TSignatureSlot::Present) {
    CheckCoverage(*Container, Size, {Data, Size});
    if (const TPkcs7 SignedData = ParsePkcs7(Container->SignedData)) {
      TFileDigests Digests(Fd, Container->DigestedParts);
      const TSignatureVerdict Verdict = CheckSignedData(SignedData.get(), Digests, Trust.Store.get());
      if (Verdict.State == vsUnsigned || Verdict.State == vsUnsupported) std::abort();
      CheckNestedSignatures(SignedData.get(), Digests, Trust.Store.get());
    }
  }
  ERR_clear_error();
  return 0;
}
