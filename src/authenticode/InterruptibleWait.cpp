#include "authenticode/InterruptibleWait.h"

#include <poll.h>

#include <algorithm>

namespace {
// Whether Interruption became readable within Milliseconds (0 only looks).
bool Readable(int Interruption, int Milliseconds) {
  pollfd Watched{Interruption, POLLIN, 0};
  const int Ready = ::poll(&Watched, Interruption >= 0 ? 1 : 0, Milliseconds);
  return Ready > 0 && (Watched.revents & POLLIN) != 0;
}
}  // namespace

bool IsInterrupted(int Interruption) { return Interruption >= 0 && Readable(Interruption, 0); }

bool WaitUntil(TSteadyClock::time_point Until, int Interruption) {
  using namespace std::chrono;
  for (;;) {
    if (IsInterrupted(Interruption)) return false;
    const TSteadyClock::time_point Now = TSteadyClock::now();
    if (Now >= Until) return true;
    // Rounded up, so that the loop does not spin through the last fraction of a millisecond.
    const auto Left = ceil<milliseconds>(Until - Now);
    const int Slice = static_cast<int>(std::min<milliseconds::rep>(Left.count(), 60'000));
    if (Readable(Interruption, Slice)) return false;
  }
}
