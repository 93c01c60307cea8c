#pragma once
// Time-stamp servers fail now and then and throttle busy clients. A try that fails by a network
// error, a time-out, HTTP 5xx or 429 is tried again, up to three more times with growing waits
// that honour Retry-After, never taking more than about a minute per file in all. Other
// failures (a refused request, an answer that is not a time-stamp) are not tried again.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/ProcessRunner.h"

class TTimestampRelay;

class TTimestampRetry {
 public:
  using TClock = std::chrono::steady_clock;

  static constexpr int Retries = 3;
  static constexpr std::chrono::milliseconds FirstWait{1000};  // doubled for each further retry
  static constexpr std::chrono::seconds Budget{60};            // every try and wait of one file
  static constexpr std::chrono::seconds TryLimit{20};          // one try

  // For a file stamped by the servers at Urls (empty ones left out); the clock starts now.
  explicit TTimestampRetry(const std::vector<std::string>& Urls);
  ~TTimestampRetry();

  // Arguments that route osslsigncode's requests through the relay that watches the answers;
  // none when the addresses cannot be watched (https, or a proxy set for the user).
  std::vector<std::string> ProxyArguments() const;
  // When the next try is to be given up.
  TClock::time_point NextTryDeadline() const;

  // After Failed, a failed try: whether another is worth making. Then Again waits as the
  // server asked, or longer, and makes tries until one succeeds or no retry or time is left.
  // Throws TInterrupted when the run is interrupted during a wait.
  bool WorthRetrying(const TRunResult& Failed);
  bool Again(const std::function<TRunResult(TClock::time_point TryDeadline)>& Try);

 private:
  TClock::time_point Deadline;
  std::unique_ptr<TTimestampRelay> Relay;
  std::optional<std::chrono::seconds> AskedWait;  // the last Retry-After
};
