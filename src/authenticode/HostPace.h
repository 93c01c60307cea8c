#pragma once
// One pace per timestamp host, shared by every request of a batch: requests to a host start at
// least a gap apart, the configured minimum or what the host asked for through Retry-After,
// whichever is longer. A host's gap only grows during a batch; hosts are named in lower case.
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "authenticode/InterruptibleWait.h"

class THostPace {
 public:
  explicit THostPace(std::chrono::milliseconds MinimumGap = {}) : MinimumGap(MinimumGap) {}

  enum class TTurn { Taken, PastDeadline, Interrupted };

  // Waits until a request to Host may start and counts it as started. Waiting requests take the
  // turns as they come free, so a slow-down meanwhile holds for them too. PastDeadline once the
  // next turn would come after Deadline.
  TTurn TakeTurn(const std::string& Host, TSteadyClock::time_point Deadline, int Interruption);
  // Host asked for Wait (429 or 503 with Retry-After): no request goes before Wait from now, and
  // from now on its requests go at least Wait apart.
  void SlowDown(const std::string& Host, std::chrono::milliseconds Wait);

 private:
  struct THost {
    TSteadyClock::time_point NextStart{};
    std::chrono::milliseconds Gap{0};
  };

  std::chrono::milliseconds MinimumGap;
  std::mutex Lock;
  std::map<std::string, THost> Hosts;
};
