#pragma once
// A timestamp server as a busy public one behaves: it takes its time over each request and
// refuses any beyond a number at once (HTTP 429 with Retry-After: 1).
#include <atomic>
#include <chrono>
#include <string>

#include "support/TimestampServer.h"

class BusyTimestampServer {
 public:
  BusyTimestampServer(int AtOnce, std::chrono::milliseconds PerRequest);
  BusyTimestampServer(const BusyTimestampServer&) = delete;
  BusyTimestampServer& operator=(const BusyTimestampServer&) = delete;

  std::string Url() const { return Server.Url(); }
  int RequestCount() const { return Server.RequestCount(); }
  // The requests refused since the start, or since the last TakeRefused.
  int Refused() const { return RefusedCount; }
  int TakeRefused() { return RefusedCount.exchange(0); }

 private:
  std::atomic<int> InFlight = 0, RefusedCount = 0;
  TimestampServer Server;  // declared last: stops before the counts its requests use go
};
