#include "authenticode/HostPace.h"

#include <algorithm>

THostPace::TTurn THostPace::TakeTurn(const std::string& Host, TSteadyClock::time_point Deadline, int Interruption) {
  for (;;) {
    TSteadyClock::time_point Free;
    {
      const std::lock_guard Guard(Lock);
      THost& Pace = Hosts[Host];
      const TSteadyClock::time_point Now = TSteadyClock::now();
      if (Now >= Pace.NextStart) {
        Pace.NextStart = Now + std::max(MinimumGap, Pace.Gap);
        return TTurn::Taken;
      }
      Free = Pace.NextStart;
    }
    if (Free > Deadline) return TTurn::PastDeadline;
    if (!WaitUntil(Free, Interruption)) return TTurn::Interrupted;
  }
}

void THostPace::SlowDown(const std::string& Host, std::chrono::milliseconds Wait) {
  const std::lock_guard Guard(Lock);
  THost& Pace = Hosts[Host];
  Pace.Gap = std::max(Pace.Gap, Wait);
  Pace.NextStart = std::max(Pace.NextStart, TSteadyClock::now() + Wait);
}
