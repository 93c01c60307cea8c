// libFuzzer target: a time-stamp server's answer as signtool.exe's relay reads it, and the wait
// its Retry-After asks for, which is never negative nor beyond the longest one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/HttpResponseReader.h"
#include "common/RetryAfter.h"

namespace {
constexpr std::time_t Now = 1445412480;

void RequireSane(const std::optional<std::chrono::seconds>& Wait) {
  if (Wait && (Wait->count() < 0 || *Wait > LongestRetryAfter)) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view Bytes(reinterpret_cast<const char*>(Data), Size);
  RequireSane(ParseRetryAfter(Bytes, Now));
  THttpResponseReader Reader(64 * 1024);
  Reader.Feed(Bytes);
  Reader.End();
  if (Reader.State() == THttpResponseReader::TState::Done)
    if (const std::optional<std::string> Value = Reader.Field("Retry-After")) RequireSane(ParseRetryAfter(*Value, Now));
  return 0;
}
