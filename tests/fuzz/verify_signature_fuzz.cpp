// Feeds arbitrary files to the signature check: locating the signature in a PE image or a
// cabinet, the file digest, the PKCS#7 signature, its nested signatures and timestamps must
// never crash or read outside the file, and the digested parts must lie inside it. The input is
// a file in memory, read by position as a file on disk is.
#include <openssl/err.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "common/FileDigest.h"
#include "common/Pkcs7Parts.h"
#include "common/SignatureCheck.h"
#include "common/SignedContainer.h"
#include "common/TrustStore.h"

namespace {
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
