#pragma once
// One HTTP request over libcurl, as timestamp servers and key services are asked: http:// or
// https:// only, no redirects followed, through the proxy the environment names (http_proxy, https_proxy,
// no_proxy, all_proxy, as libcurl reads them). Ends at a deadline, or at once when the run is
// interrupted (see InterruptibleWait.h). Safe to call from several threads at once.
#include <chrono>
#include <cstddef>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/InterruptibleWait.h"

struct THttpCall {
  std::string Method = "POST";  // GET sends no body
  std::string Url;
  std::vector<std::string> Headers;  // "Name: value"
  std::string Body;
  // A PEM file of further certificates trusted for https servers, besides the system's.
  std::string CaFile;
};

struct THttpAnswer {
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

  // An end without an answer (any End but Answered), with why.
  static THttpAnswer Unanswered(TEnd End, std::string Error) {
    THttpAnswer Answer;
    Answer.End = End;
    Answer.Error = std::move(Error);
    return Answer;
  }
};

// An answer body beyond this ends the request as failed.
inline constexpr std::size_t MaxHttpAnswerBytes = 1024 * 1024;

THttpAnswer CallHttp(const THttpCall& Request, TSteadyClock::time_point Deadline, int Interruption);
// Whatever makes a run's requests: CallHttp, or another process that makes them on its behalf.
using THttpCaller = std::function<THttpAnswer(const THttpCall&, TSteadyClock::time_point Deadline, int Interruption)>;

// The host an http:// or https:// address names, in lower case (an IPv6 address in its brackets);
// empty for any other address, and for one whose host and port are not plainly written.
std::string UrlHost(const std::string& Url);

// Loads the HTTP library (see CurlLibrary.h) on another thread, for a run that will make requests
// once it has done other work; the future waits for the loading when it is destroyed.
std::future<void> LoadHttpMeanwhile();
