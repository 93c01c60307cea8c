#pragma once
// One HTTP POST over libcurl, as timestamp servers are asked: http:// or https:// only, no
// redirects followed, through the proxy the environment names (http_proxy, https_proxy,
// no_proxy, all_proxy, as libcurl reads them). Ends at a deadline, or at once when the run is
// interrupted (see InterruptibleWait.h). Safe to call from several threads at once.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "authenticode/InterruptibleWait.h"

struct THttpPost {
  std::string Url, ContentType, Body;
  // A PEM file of further certificates trusted for https servers, besides the system's.
  std::string CaFile;
};

struct THttpPostResult {
  enum class TEnd {
    Answered,    // Status, RetryAfter and Body hold the answer
    Failed,      // no answer: Error says why
    TimedOut,
    Interrupted
  };
  TEnd End = TEnd::Failed;
  long Status = 0;
  std::optional<std::chrono::seconds> RetryAfter;
  std::string Body;
  std::string Error;
};

// An answer body beyond this ends the request as failed.
inline constexpr std::size_t MaxHttpAnswerBytes = 1024 * 1024;

THttpPostResult PostHttp(const THttpPost& Request, TSteadyClock::time_point Deadline, int Interruption);
