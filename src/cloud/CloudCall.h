#pragma once
// One call to a key service, politely: each request waits for its host's turn in a shared pace
// (HostPace.h); 429 and 503 teach that pace, and the request goes again once what Retry-After
// asks (or RetryWait when it asks nothing) is over, as do requests that got no answer or a 500, 502 or
// 504, all within a bounded number of tries and a time limit per try and per call. An
// interruption ends every wait at once. Only https:// is taken, and http:// for a loopback host.
#include <chrono>
#include <string>

#include "authenticode/HostPace.h"
#include "authenticode/HttpCall.h"
#include "cloud/CloudFailure.h"

struct TCloudCallLimits {
  int Tries = 5;
  std::chrono::milliseconds RetryWait{2'000};
  std::chrono::milliseconds TryTimeout{30'000};
  std::chrono::milliseconds CallBudget{120'000};
};

// Where a key service's requests go and how they may wait; the pace outlives every call.
struct TCloudLink {
  THostPace* Pace = nullptr;
  TCloudCallLimits Limits;
  std::string CaFile;     // see THttpCall
  int Interruption = -1;  // see InterruptibleWait.h
  TSteadyClock::time_point Deadline = TSteadyClock::time_point::max();  // of the whole run
};

struct TCloudAnswer {
  long Status = 0;  // 2xx when there is no failure
  std::string Body;
  TCloudFailure Failure;
};

// Request's CaFile is taken from Link. A 2xx answer is returned as it is; any other status ends
// as a failure of its kind, with the service's message (Google's and Azure's {"error": {"message"}},
// AWS's {"message"}, Microsoft Entra ID's {"error_description"}) as its detail.
TCloudAnswer CallCloud(THttpCall Request, const TCloudLink& Link);

// The base address of a service whose host (with :port) an address names: https://, or http://
// for a loopback host (the tests' services).
std::string ServiceUrl(const std::string& Host);
