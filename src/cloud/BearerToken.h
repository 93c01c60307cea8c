#pragma once
// The access token an open key calls its service with. Tokens last about an hour, a batch may
// last longer: one the key fetched itself (through client credentials or the service's own
// command-line tool) is fetched again when the service turns it down, and the call goes once more
// with the new one. A token the user gave cannot be renewed; its refusal stands.
#include <functional>
#include <mutex>
#include <string>

#include "cloud/AccessToken.h"
#include "cloud/CloudCall.h"

class TBearerToken {
 public:
  // Fetches a token as the first was fetched; only kept when First is Renewable.
  using TFetch = std::function<TAccessToken(const TCloudLink& Link)>;
  TBearerToken(TAccessToken First, TFetch Again);

  // The request Make builds with the current token's Authorization header, made as CallCloud
  // makes it; when the service answers 401, made once more with a renewed token. Thread-safe: a
  // token turned down by several calls at once is renewed once.
  TCloudAnswer Call(const std::function<THttpCall(const std::string& Authorization)>& Make, const TCloudLink& Link) const;

 private:
  std::string Header() const;
  // Whether a token other than the one Rejected was in is now held.
  bool Renew(const std::string& Rejected, const TCloudLink& Link) const;

  mutable std::mutex Lock;
  mutable TAccessToken Current;
  const TFetch Again;
};
