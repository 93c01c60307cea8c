#pragma once
// Why a key service did not do what was asked, in kinds the window and signtool.exe can explain
// to a user, and the service's own words for it.
#include <string>
#include <string_view>

#include "common/MessageCatalogue.h"

struct TCloudFailure {
  enum class TKind {
    None,
    Unauthorized,  // 401: the credentials are missing, wrong or expired
    Forbidden,     // 403: the credentials are good, but lack the right to this key
    NotFound,      // 404: no such key, certificate or account
    Throttled,     // 429 or 503 still, after the waits the service asked for
    Quota,         // 429 for a quota that is used up
    Refused,       // any other refusal of the request (400, 409, …)
    Unreachable,   // no answer: name resolution, connection, TLS, or the service's 5xx
    Malformed,     // an answer that cannot be read
    TimedOut,      // the time for the call ran out
    Interrupted,   // the run was interrupted meanwhile
    NoCredentials,  // no token or key was found anywhere it is looked for
    Certificate,    // no certificate that goes with the key, or one that cannot be read
    Unsupported     // a key that cannot make the signatures Authenticode needs
  };
  TKind Kind = TKind::None;
  std::string Detail;  // the service's message, or what went wrong, in English; may be empty

  explicit operator bool() const { return Kind != TKind::None; }
};

// What a failure of Kind means, as the Chinese source the window translates under the context
// "CloudFailure" (see DisplayedText.h); %1 stands for the service's name. Empty for None.
std::string_view CloudFailureMeaning(TCloudFailure::TKind Kind);
// One sentence for a user in Language, naming Service ("Google Cloud KMS"), saying what the failure
// means and, where there is one, the service's own message (which only the service has).
std::string DescribeCloudFailure(const TCloudFailure& Failure, std::string_view Service, TMessageLanguage Language);
