#include "history/OptionsStore.h"

#include <algorithm>
#include <cstddef>
#include <optional>

#include "common/TextUtil.h"
#include "history/HistoryStore.h"

namespace {
constexpr const char* Section = "Options";
constexpr const char* ParallelismKey = "SignParallelism";
constexpr const char* VerifyTrustFileKey = "VerifyTrustFile";
constexpr const char* TimestampProtocolKey = "TimestampProtocol";
constexpr const char* TimestampIntervalKey = "TimestampInterval";
constexpr const char* Rfc3161Value = "RFC3161";
constexpr const char* AuthenticodeValue = "Authenticode";

// A whole decimal number with an optional sign, cut to the allowed range; digits beyond any
// integer type only push it further to one end.
std::optional<int> ParseClamped(const std::string& Text, int Low, int High) {
  std::size_t Pos = 0;
  const bool Negative = !Text.empty() && Text[0] == '-';
  if (!Text.empty() && (Text[0] == '-' || Text[0] == '+')) ++Pos;
  if (Pos == Text.size()) return std::nullopt;
  long long Value = 0;
  for (; Pos < Text.size(); ++Pos) {
    if (Text[Pos] < '0' || Text[Pos] > '9') return std::nullopt;
    Value = std::min<long long>(Value * 10 + (Text[Pos] - '0'), High + 1LL);
  }
  if (Negative) Value = -Value;
  return static_cast<int>(std::clamp<long long>(Value, Low, High));
}
}  // namespace

int ReadSignParallelism(const std::string& ConfigFile) {
  const THistoryStore Store(ConfigFile);
  return ParseClamped(Store.Read(Section, ParallelismKey), MinSignParallelism, MaxSignParallelism)
      .value_or(MinSignParallelism);
}

void WriteSignParallelism(const std::string& ConfigFile, int Count) {
  THistoryStore Store(ConfigFile);
  Store.Write(Section, ParallelismKey, std::to_string(std::clamp(Count, MinSignParallelism, MaxSignParallelism)));
  Store.Save();
}

std::string ReadVerifyTrustFile(const std::string& ConfigFile) {
  return THistoryStore(ConfigFile).Read(Section, VerifyTrustFileKey);
}

void WriteVerifyTrustFile(const std::string& ConfigFile, const std::string& Path) {
  THistoryStore Store(ConfigFile);
  if (Path.empty()) {
    Store.Delete(Section, VerifyTrustFileKey);
  } else {
    Store.Write(Section, VerifyTrustFileKey, Path);
  }
  Store.Save();
}

bool ReadRfc3161Timestamps(const std::string& ConfigFile) {
  return SameTextAscii(THistoryStore(ConfigFile).Read(Section, TimestampProtocolKey), Rfc3161Value);
}

void WriteRfc3161Timestamps(const std::string& ConfigFile, bool Rfc3161) {
  THistoryStore Store(ConfigFile);
  Store.Write(Section, TimestampProtocolKey, Rfc3161 ? Rfc3161Value : AuthenticodeValue);
  Store.Save();
}

std::chrono::milliseconds ReadTimestampInterval(const std::string& ConfigFile) {
  const THistoryStore Store(ConfigFile);
  return std::chrono::milliseconds(
      ParseClamped(Store.Read(Section, TimestampIntervalKey), 0, static_cast<int>(MaxTimestampInterval.count()))
          .value_or(0));
}
