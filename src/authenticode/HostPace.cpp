#include "authenticode/HostPace.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <utility>

namespace {
using namespace std::chrono;

// How often a request looks again for a free place at its host: places given back by another
// process are not announced.
constexpr milliseconds PlacePoll{10};

constexpr std::string_view HostKeyPrefix = "host:";

struct THost {
  int Id = -1;  // numbers the host's places; -1 until recorded
  TSteadyClock::time_point NextStart{};
  milliseconds Gap{0};
  int Limit = THostPace::MaxInFlight;
  TSteadyClock::time_point LimitChanged{};

  std::uint64_t FirstPlace() const { return static_cast<std::uint64_t>(Id) * THostPace::MaxInFlight; }
};

template <class T>
bool ParseNumber(std::string_view& Text, T& Value) {
  while (!Text.empty() && Text.front() == ' ') Text.remove_prefix(1);
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  if (Error != std::errc()) return false;
  Text.remove_prefix(static_cast<std::size_t>(End - Text.data()));
  return true;
}

// A host's record: "<id> <next start> <gap> <limit> <limit changed>", the times in nanoseconds of
// the steady clock (CLOCK_MONOTONIC, the same in every process of the machine), the gap in
// milliseconds. A record that says nothing readable is a host not yet paced.
THost ParseHost(std::string_view Values) {
  THost Host;
  TSteadyClock::rep NextStart = 0, LimitChanged = 0;
  milliseconds::rep Gap = 0;
  if (!ParseNumber(Values, Host.Id) || !ParseNumber(Values, NextStart) || !ParseNumber(Values, Gap) ||
      !ParseNumber(Values, Host.Limit) || !ParseNumber(Values, LimitChanged) || !Values.empty() || Host.Id < 0 ||
      Gap < 0 || Host.Limit < 1 || Host.Limit > THostPace::MaxInFlight)
    return {};
  Host.NextStart = TSteadyClock::time_point(TSteadyClock::duration(NextStart));
  Host.Gap = milliseconds(Gap);
  Host.LimitChanged = TSteadyClock::time_point(TSteadyClock::duration(LimitChanged));
  return Host;
}

std::string FormatHost(const THost& Host) {
  return std::to_string(Host.Id) + ' ' + std::to_string(Host.NextStart.time_since_epoch().count()) + ' ' +
         std::to_string(Host.Gap.count()) + ' ' + std::to_string(Host.Limit) + ' ' +
         std::to_string(Host.LimitChanged.time_since_epoch().count());
}

std::string HostKey(const std::string& Host) { return std::string(HostKeyPrefix) + Host; }

// Host's pace as recorded; a host met for the first time gets places of its own.
THost ReadHost(const TPaceRecords& Records, const std::string& Host) {
  const auto Record = Records.find(HostKey(Host));
  THost Pace = Record == Records.end() ? THost{} : ParseHost(Record->second);
  if (Pace.Id >= 0) return Pace;
  Pace.Id = 0;
  for (const auto& [Key, Values] : Records)
    if (Key.starts_with(HostKeyPrefix) && Key != HostKey(Host)) Pace.Id = std::max(Pace.Id, ParseHost(Values).Id + 1);
  return Pace;
}
}  // namespace

THostPace::TSlot::TSlot(TSlot&& Other) noexcept
    : File(std::exchange(Other.File, nullptr)), Host(std::move(Other.Host)), Place(Other.Place) {}

THostPace::TSlot::~TSlot() {
  if (File) File->Free(Place);
}

THostPace::TTurn THostPace::TakeTurn(const std::string& Host, TSteadyClock::time_point NotBefore,
                                     TSteadyClock::time_point Deadline, int Interruption) {
  for (;;) {
    if (NotBefore > Deadline) return {TWait::PastDeadline, std::nullopt};
    if (!WaitUntil(NotBefore, Interruption)) return {TWait::Interrupted, std::nullopt};
    std::optional<TSlot> Slot;
    File.Update([&](TPaceFile::TLocked& Locked) {
      THost Pace = ReadHost(Locked.Records, Host);
      const TSteadyClock::time_point Now = TSteadyClock::now();
      if (Now < Pace.NextStart) {
        NotBefore = Pace.NextStart;
      } else if (Locked.HeldPlaces(Pace.FirstPlace(), MaxInFlight) >= Pace.Limit) {
        NotBefore = Now + PlacePoll;
      } else {
        for (std::uint64_t Place = Pace.FirstPlace(); Place < Pace.FirstPlace() + MaxInFlight && !Slot; ++Place)
          if (Locked.Hold(Place)) Slot.emplace(TSlot(File, Host, Place));
        if (Slot) Pace.NextStart = Now + std::max(MinimumGap, Pace.Gap);
        else NotBefore = Now + PlacePoll;
      }
      Locked.Records[HostKey(Host)] = FormatHost(Pace);
    });
    if (Slot) return {TWait::Taken, std::move(Slot)};
  }
}

void THostPace::Granted(const TSlot& Slot) {
  File.Update([&](TPaceFile::TLocked& Locked) {
    THost Pace = ReadHost(Locked.Records, Slot.Host);
    const TSteadyClock::time_point Now = TSteadyClock::now();
    if (Pace.Limit == MaxInFlight || Now - Pace.LimitChanged < LimitRaisePeriod ||
        Locked.HeldPlaces(Pace.FirstPlace(), MaxInFlight) < Pace.Limit)
      return;
    ++Pace.Limit;
    Pace.LimitChanged = Now;
    Locked.Records[HostKey(Slot.Host)] = FormatHost(Pace);
  });
}

void THostPace::Throttled(const TSlot& Slot, milliseconds Wait) {
  File.Update([&](TPaceFile::TLocked& Locked) {
    THost Pace = ReadHost(Locked.Records, Slot.Host);
    const TSteadyClock::time_point Now = TSteadyClock::now();
    // Counted now rather than when the request began: the host took those that reached it first,
    // which need not be those that began first.
    const int InFlight = Locked.HeldPlaces(Pace.FirstPlace(), MaxInFlight);
    Pace.Limit = std::max(1, std::min(Pace.Limit, InFlight - 1));
    Pace.LimitChanged = Now;
    if (InFlight <= 2) {
      Pace.Gap = std::max(Pace.Gap, Wait);
      Pace.NextStart = std::max(Pace.NextStart, Now + Wait);
    }
    Locked.Records[HostKey(Slot.Host)] = FormatHost(Pace);
  });
}
