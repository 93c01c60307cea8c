#pragma once
// Microsoft Entra ID's token endpoint on 127.0.0.1 (for AZURE_AUTHORITY_HOST), as its reference
// describes the client credentials grant: POST /{tenant}/oauth2/v2.0/token with a form of
// grant_type, client_id, client_secret and scope. It grants one client and counts the grants.
#include <atomic>
#include <memory>
#include <string>

#include "support/LoopbackHttpServer.h"

class EntraTokenService {
 public:
  EntraTokenService(std::string Tenant, std::string Client, std::string Secret, std::string Scope, std::string Token);
  std::string Authority() const { return Http->Url(""); }
  int Grants() const { return Granted; }

 private:
  THttpResponse Answer(const THttpRequest& Request);

  std::string Tenant, Client, Secret, Scope, Token;
  std::atomic<int> Granted = 0;
  std::unique_ptr<LoopbackHttpServer> Http;  // last: stops before the rest goes
};
