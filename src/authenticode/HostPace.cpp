#include "authenticode/HostPace.h"

#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>

namespace {
using namespace std::chrono;

// A batch names a handful of hosts; a longer file is not ours, and what lies beyond is not read.
constexpr std::size_t MaxPaceFileBytes = 64 * 1024;

using THostLines = std::map<std::string, std::string, std::less<>>;

struct THost {
  TSteadyClock::time_point NextStart{};
  milliseconds Gap{0};
};

[[noreturn]] void ThrowSystemError(const char* What) { throw std::system_error(errno, std::system_category(), What); }

// The file holds one line per host: "<host> <next start> <gap>", the next start in nanoseconds
// of the steady clock (CLOCK_MONOTONIC, the same in every process of the machine), the gap in
// milliseconds.
THostLines ReadLines(int File) {
  std::string Text(MaxPaceFileBytes, '\0');
  std::size_t Length = 0;
  while (Length < Text.size()) {
    const ssize_t Read = ::pread(File, Text.data() + Length, Text.size() - Length, static_cast<off_t>(Length));
    if (Read < 0 && errno == EINTR) continue;
    if (Read < 0) ThrowSystemError("Reading the timestamp pace file");
    if (Read == 0) break;
    Length += static_cast<std::size_t>(Read);
  }
  Text.resize(Length);
  THostLines Lines;
  for (std::string_view Rest = Text; !Rest.empty();) {
    const std::size_t End = Rest.find('\n');
    // A line without its end was cut off (a writer that died): it is left out.
    if (End == std::string_view::npos) break;
    const std::string_view Line = Rest.substr(0, End);
    Rest.remove_prefix(End + 1);
    const std::size_t Blank = Line.find(' ');
    if (Blank != std::string_view::npos && Blank > 0) Lines.emplace(std::string(Line.substr(0, Blank)), Line.substr(Blank + 1));
  }
  return Lines;
}

void WriteLines(int File, const THostLines& Lines) {
  std::string Text;
  for (const auto& [Host, Values] : Lines) Text += Host + ' ' + Values + '\n';
  for (std::size_t Written = 0; Written < Text.size();) {
    const ssize_t Count = ::pwrite(File, Text.data() + Written, Text.size() - Written, static_cast<off_t>(Written));
    if (Count < 0 && errno == EINTR) continue;
    if (Count < 0) ThrowSystemError("Writing the timestamp pace file");
    Written += static_cast<std::size_t>(Count);
  }
  if (::ftruncate(File, static_cast<off_t>(Text.size())) != 0) ThrowSystemError("Writing the timestamp pace file");
}

template <class T>
bool ParseNumber(std::string_view& Text, T& Value) {
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  if (Error != std::errc()) return false;
  Text.remove_prefix(static_cast<std::size_t>(End - Text.data()));
  return true;
}

// What a host's line says; a line that says nothing readable is a host not yet paced.
THost ParseHost(std::string_view Values) {
  TSteadyClock::rep NextStart = 0;
  milliseconds::rep Gap = 0;
  if (!ParseNumber(Values, NextStart) || Values.empty() || Values.front() != ' ') return {};
  Values.remove_prefix(1);
  if (!ParseNumber(Values, Gap) || !Values.empty() || Gap < 0) return {};
  return {TSteadyClock::time_point(TSteadyClock::duration(NextStart)), milliseconds(Gap)};
}

std::string FormatHost(const THost& Pace) {
  return std::to_string(Pace.NextStart.time_since_epoch().count()) + ' ' + std::to_string(Pace.Gap.count());
}

// Holds the file's lock for a scope.
class TFileLock {
 public:
  explicit TFileLock(int File) : File(File) {
    while (::flock(File, LOCK_EX) != 0)
      if (errno != EINTR) ThrowSystemError("Locking the timestamp pace file");
  }
  ~TFileLock() { ::flock(File, LOCK_UN); }
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

 private:
  int File;
};

TDescriptor UnnamedPaceFile() {
  TDescriptor File(::memfd_create("timestamp-pace", MFD_CLOEXEC));
  if (!File.IsOpen()) ThrowSystemError("Making the timestamp pace file");
  return File;
}
}  // namespace

THostPace::THostPace(milliseconds MinimumGap) : THostPace(UnnamedPaceFile(), MinimumGap) {}

THostPace::THostPace(TDescriptor PaceFile, milliseconds MinimumGap) : MinimumGap(MinimumGap), File(std::move(PaceFile)) {}

template <class TChange>
auto THostPace::Update(const std::string& Host, TChange Change) {
  const std::lock_guard Guard(Lock);
  const TFileLock Locked(File.Get());
  THostLines Lines = ReadLines(File.Get());
  const auto Line = Lines.find(Host);
  THost Pace = Line == Lines.end() ? THost{} : ParseHost(Line->second);
  const auto Result = Change(Pace);
  Lines[Host] = FormatHost(Pace);
  WriteLines(File.Get(), Lines);
  return Result;
}

THostPace::TTurn THostPace::TakeTurn(const std::string& Host, TSteadyClock::time_point Deadline, int Interruption) {
  for (;;) {
    // The start the host is free from, or none once the turn is taken.
    const std::optional<TSteadyClock::time_point> Free = Update(Host, [&](THost& Pace) -> std::optional<TSteadyClock::time_point> {
      const TSteadyClock::time_point Now = TSteadyClock::now();
      if (Now < Pace.NextStart) return Pace.NextStart;
      Pace.NextStart = Now + std::max(MinimumGap, Pace.Gap);
      return std::nullopt;
    });
    if (!Free) return TTurn::Taken;
    if (*Free > Deadline) return TTurn::PastDeadline;
    if (!WaitUntil(*Free, Interruption)) return TTurn::Interrupted;
  }
}

void THostPace::SlowDown(const std::string& Host, milliseconds Wait) {
  Update(Host, [&](THost& Pace) {
    Pace.Gap = std::max(Pace.Gap, Wait);
    Pace.NextStart = std::max(Pace.NextStart, TSteadyClock::now() + Wait);
    return true;
  });
}
