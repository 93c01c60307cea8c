#include "common/RetryAfter.h"

#include <time.h>

#include <algorithm>
#include <string>

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view Value, std::time_t Now) {
  if (Value.empty()) return std::nullopt;
  if (std::all_of(Value.begin(), Value.end(), [](char C) { return C >= '0' && C <= '9'; })) {
    long long Seconds = 0;
    for (char C : Value) Seconds = std::min<long long>(Seconds * 10 + (C - '0'), LongestRetryAfter.count());
    return std::chrono::seconds(Seconds);
  }
  // strptime reads a C string; a zero byte would end the date early and pass what follows.
  if (Value.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string Text(Value);
  std::tm Date{};
  const char* End = ::strptime(Text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &Date);
  if (End == nullptr || *End != '\0') return std::nullopt;
  const std::time_t When = ::timegm(&Date);
  if (When == static_cast<std::time_t>(-1)) return std::nullopt;
  if (When <= Now) return std::chrono::seconds(0);
  return std::min(std::chrono::seconds(When - Now), LongestRetryAfter);
}
