#include "authenticode/TimestampServerOrder.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>
#include <utility>

namespace {
constexpr std::string_view ServerKeyPrefix = "server:";

std::string ServerKey(const std::string& Server) { return std::string(ServerKeyPrefix) + Server; }

// A server's record holds the number of the failure that last put it behind; a server without
// one has not failed in this batch.
std::uint64_t FailureNumber(std::string_view Values) {
  std::uint64_t Number = 0;
  std::from_chars(Values.data(), Values.data() + Values.size(), Number);
  return Number;
}
}  // namespace

std::vector<std::string> TTimestampServerOrder::Current() const {
  std::vector<std::pair<std::uint64_t, std::string>> Numbered;
  File.Update([&](TPaceFile::TLocked& Locked) {
    for (const std::string& Server : Servers) {
      const auto Record = Locked.Records.find(ServerKey(Server));
      Numbered.emplace_back(Record == Locked.Records.end() ? 0 : FailureNumber(Record->second), Server);
    }
  });
  std::stable_sort(Numbered.begin(), Numbered.end(),
                   [](const auto& Left, const auto& Right) { return Left.first < Right.first; });
  std::vector<std::string> Order;
  for (auto& [Number, Server] : Numbered) Order.push_back(std::move(Server));
  return Order;
}

void TTimestampServerOrder::PutBehind(const std::string& Server) {
  if (std::find(Servers.begin(), Servers.end(), Server) == Servers.end()) return;
  File.Update([&](TPaceFile::TLocked& Locked) {
    std::uint64_t Last = 0;
    for (const auto& [Key, Values] : Locked.Records)
      if (Key.starts_with(ServerKeyPrefix)) Last = std::max(Last, FailureNumber(Values));
    Locked.Records[ServerKey(Server)] = std::to_string(Last + 1);
  });
}
