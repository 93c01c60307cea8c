// Feeds arbitrary signatures to the signature reader of the properties window: a damaged PKCS#7
// structure must never crash it, whether its signatures are read or only counted.
#include <cstdint>
#include <cstdlib>

#include "authenticode/AuthenticodeInfo.h"

namespace {
void Require(bool Condition) {
  if (!Condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const TAuthenticodeInfo Info = ReadAuthenticodeSignedData({Data, Size});
  Require(Info.HasCertificateTable && Info.Signatures.size() <= MaxReadSignatures);
  const TAuthenticodeInfo Counted = ReadAuthenticodeSignedData({Data, Size}, 0);
  Require(Counted.Signatures.empty());
  return 0;
}
