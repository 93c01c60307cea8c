// Parses arbitrary PKCS#11 URIs, and checks that writing a parsed one out and parsing it again
// gives back the same attributes, whatever bytes their values hold.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/Pkcs11Uri.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view Input(reinterpret_cast<const char*>(Data), Size);
  for (const std::string& Text : {std::string(Input), "pkcs11:" + std::string(Input)}) {
    const std::optional<TPkcs11Uri> Uri = ParsePkcs11Uri(Text);
    if (!Uri) continue;
    const std::optional<TPkcs11Uri> Again = ParsePkcs11Uri(Uri->ToString());
    if (!Again || Again->Path != Uri->Path || Again->Query != Uri->Query) std::abort();
  }
  return 0;
}
