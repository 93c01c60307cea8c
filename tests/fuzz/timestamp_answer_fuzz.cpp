// libFuzzer target: a timestamp server's answer as the timestamp client reads it, for either
// protocol. Nothing a server sends may crash it, and nothing here is taken for a timestamp: that
// takes a signature made for these requests, which no input can carry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "authenticode/TimestampAnswer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const std::vector<std::uint8_t> SignatureValue(256, 0x5A);
  static const TTimestampRequest Requests[] = {MakeRfc3161Request(SignatureValue, EVP_sha256()),
                                               MakeAuthenticodeRequest(SignatureValue)};
  const std::string_view Body(reinterpret_cast<const char*>(Data), Size);
  for (const TTimestampRequest& Request : Requests)
    if (ReadTimestampAnswer(Request, Body).Token) std::abort();
  return 0;
}
