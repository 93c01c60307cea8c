#include "TimestampRetry.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>

#include "Interruption.h"
#include "TimestampRelay.h"

namespace {
using namespace std::chrono_literals;
bool IsRetryStatus(int Status) { return Status == 429 || (Status >= 500 && Status <= 599); }

// Sleeps for Pause unless the run is interrupted first.
void WaitUnlessInterrupted(std::chrono::milliseconds Pause) {
  const TTimestampRetry::TClock::time_point End = TTimestampRetry::TClock::now() + Pause;
  for (;;) {
    ThrowIfInterrupted();
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(End - TTimestampRetry::TClock::now());
    if (Left <= 0ms) return;
    pollfd Interruption{InterruptionDescriptor(), POLLIN, 0};
    ::poll(&Interruption, 1, static_cast<int>(Left.count()));
  }
}

bool UserHasProxy() {
  for (const char* Name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
    const char* Value = std::getenv(Name);
    if (Value != nullptr && *Value != '\0') return true;
  }
  return false;
}

// Without the relay only osslsigncode's words are left: OpenSSL reports an HTTP status as
// "code=NNN" and a failed connection in the socket layer's words.
bool OutputSaysRetry(const std::string& Output) {
  const std::size_t Code = Output.find("code=");
  if (Code != std::string::npos && Output.size() >= Code + 8) {
    int Status = 0;
    for (std::size_t I = Code + 5; I < Code + 8; ++I) {
      if (Output[I] < '0' || Output[I] > '9') return false;
      Status = Status * 10 + (Output[I] - '0');
    }
    return IsRetryStatus(Status);
  }
  for (const char* Network : {"connect error", "Connection refused", "Connection reset", "timed out", "timeout",
                              "Network is unreachable", "No route to host", "Temporary failure in name resolution"})
    if (Output.find(Network) != std::string::npos) return true;
  return false;
}
}  // namespace

TTimestampRetry::TTimestampRetry(const std::vector<std::string>& Urls) : Deadline(TClock::now() + Budget) {
  const bool AllPlainHttp = std::all_of(Urls.begin(), Urls.end(), [](const std::string& Url) {
    return Url.empty() || Url.rfind("http://", 0) == 0;
  });
  if (AllPlainHttp && !UserHasProxy()) {
    Relay = std::make_unique<TTimestampRelay>(Urls);
    if (Relay->ProxyUrl().empty()) Relay.reset();
  }
}

TTimestampRetry::~TTimestampRetry() = default;

std::vector<std::string> TTimestampRetry::ProxyArguments() const {
  if (!Relay) return {};
  return {"-p", Relay->ProxyUrl()};
}

TTimestampRetry::TClock::time_point TTimestampRetry::NextTryDeadline() const {
  return std::min(Deadline, TClock::now() + TryLimit);
}

bool TTimestampRetry::WorthRetrying(const TRunResult& Failed) {
  AskedWait.reset();
  if (Failed.End == TRunResult::TEnd::TimedOut) return true;
  if (Failed.End != TRunResult::TEnd::Exited) return false;
  if (Relay) {
    const TTimestampRelay::TSeen Seen = Relay->TakeSeen();
    if (Seen.Reached) {
      if (!Seen.Answer) return true;  // the server could not be reached or did not answer
      AskedWait = Seen.Answer->RetryAfter;
      return IsRetryStatus(Seen.Answer->Status);
    }
  }
  return OutputSaysRetry(Failed.Errors);
}

bool TTimestampRetry::Again(const std::function<TRunResult(TClock::time_point)>& Try) {
  std::chrono::milliseconds Wait = FirstWait;
  for (int Retry = 0; Retry < Retries; ++Retry, Wait *= 2) {
    const std::chrono::milliseconds Pause = std::max<std::chrono::milliseconds>(Wait, AskedWait.value_or(0s));
    // A try needs a moment of its own after the wait; a server asking for more than is left
    // is not waited for. (Retry-After is capped, so the sum cannot overflow.)
    if (TClock::now() + Pause + FirstWait > Deadline) return false;
    WaitUnlessInterrupted(Pause);
    const TRunResult Result = Try(NextTryDeadline());
    if (Result.Succeeded()) return true;
    if (!WorthRetrying(Result)) return false;
  }
  return false;
}
