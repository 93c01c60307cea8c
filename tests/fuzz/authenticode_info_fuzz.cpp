// Feeds arbitrary files to the signature reader of the properties window: a damaged certificate
// table or PKCS#7 structure must never crash it.
#include <cstdint>
#include <cstdlib>

#include "common/AuthenticodeInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const TAuthenticodeInfo Info = ReadAuthenticodeInfo({Data, Size});
  if (!Info.HasCertificateTable && !Info.Signatures.empty()) std::abort();
  return 0;
}
