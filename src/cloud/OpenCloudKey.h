#pragma once
// Opens a key in a key service by its address: authenticates once and gets the certificate and
// its chain once, so that the key only has to sign digests, one call each.
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "authenticode/SigningKey.h"
#include "cloud/CloudCall.h"
#include "cloud/CloudKeyAddress.h"

struct TCloudKeyOpening {
  std::unique_ptr<TSigningKey> Key;  // empty on failure
  TCloudFailure Failure;
  std::string Message;  // the failure in words for a user, in the language of the environment (DescribeCloudFailure)
};

// What an opening needs; the services' openers get it whole.
struct TCloudKeyRequest {
  TCloudKeyAddress Address;
  std::string_view Secret;      // an access token the user gave; may be empty
  std::string CertificateFile;  // where the service keeps no certificate
  std::shared_ptr<THostPace> Pace;
  TCloudLink Link;  // its Pace points to Pace
};

// Secret: see AccessToken.h. CertificateFile: signtool.exe's /f, else the address's own.
// Deadline bounds the opening; each later call has its own time limit (TCloudCallLimits).
// Interruption ends every wait. Not for the window's thread: it waits for the service.
TCloudKeyOpening OpenCloudKey(const TCloudKeyAddress& Address, std::string_view Secret, const std::string& CertificateFile,
                              TSteadyClock::time_point Deadline, int Interruption);
