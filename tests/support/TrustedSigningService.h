#pragma once
// Azure Trusted Signing on 127.0.0.1, written from Microsoft's REST API reference of its data plane
// (Azure.CodeSigning, api-version 2022-06-15-preview). Under
// /codesigningaccounts/<account>/certificateprofiles/<profile>/ it answers
//   POST sign?api-version=…  {"signatureAlgorithm": "RS256", "digest": <base64>}: 202 and
//                            {"operationId", "status": "InProgress"}
//   GET  sign/<operationId>?api-version=…: {"operationId", "status"} and, once "Succeeded",
//                            "signature" and "signingCertificate" (base64 DER)
//   GET  sign/certchain?api-version=…: the chain as a certs-only PKCS#7 (application/pkcs7-mime)
// each with "Authorization: Bearer <token>". It also answers as Microsoft Entra ID's token
// endpoint for client credentials, POST /<tenant>/oauth2/v2.0/token, so that its address can be
// AZURE_AUTHORITY_HOST. It signs with the test PKI's key and counts what it was asked.
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/LoopbackHttpServer.h"
#include "support/ScopedEnvironment.h"
#include "support/ServiceKey.h"

enum class TTrustedSigningBehaviour {
  Answer,
  ThrottleFirst,  // the first sign of each digest: 429 with "Retry-After: 1"; the next is taken
  Unauthorized,   // every request to the account: 401, as for an expired token
  Forbidden,      // every sign: 403, as for a token without the signer role on the profile
  NeverFinish,    // every operation stays "InProgress"
  Malformed       // an operation's status is answered with broken JSON
};

class TrustedSigningService {
 public:
  static constexpr const char* Account = "quillory";
  static constexpr const char* Profile = "release";
  static constexpr const char* ApiVersion = "2022-06-15-preview";
  static constexpr const char* Token = "quillory-trusted-signing-token";
  static constexpr const char* TenantId = "7f3e2d1c-0b9a-4876-a5b4-c3d2e1f0a9b8";
  static constexpr const char* ClientId = "5a4b3c2d-1e0f-4a9b-8c7d-6e5f4a3b2c1d";
  static constexpr const char* ClientSecret = "quillory~client~secret";

  // Each operation succeeds SignTime after it was submitted. Throws std::runtime_error when the
  // test PKI cannot be read.
  explicit TrustedSigningService(TTrustedSigningBehaviour Behaviour = TTrustedSigningBehaviour::Answer,
                                 std::chrono::milliseconds SignTime = {});
  ~TrustedSigningService();

  // "trustedsigning://127.0.0.1:<port>/<account>/<profile>"
  std::string Address() const;
  // For AZURE_AUTHORITY_HOST: "http://127.0.0.1:<port>"
  std::string AuthorityHost() const { return Http->Url(""); }

  int Authentications() const { return Tokens; }  // tokens given out for client credentials
  // The token taken now: Token until ExpireTokens, then one of its own for each round.
  std::string CurrentToken() const;
  // Every token given out so far is refused from now on, as once an hour has passed.
  void ExpireTokens() { ++Expiries; }
  int ChainFetches() const { return Chains; }
  int SignCount() const { return Signs; }         // operations submitted and taken
  std::vector<std::string> Refusals() const;      // why each refused request was refused

 private:
  struct TOperation {
    std::chrono::steady_clock::time_point Done;
    TBytes Signature;
  };

  std::optional<THttpResponse> Answer(const THttpRequest& Request);
  THttpResponse IssueToken(const std::string& Target, const std::string& Body);
  THttpResponse Submit(const std::string& Body);
  THttpResponse Status(const std::string& OperationId);
  THttpResponse Refuse(int Status, const std::string& Code, const std::string& Message);

  const TTrustedSigningBehaviour Behaviour;
  const std::chrono::milliseconds SignTime;
  TServiceKey Key;
  std::atomic<int> Tokens = 0, Chains = 0, Signs = 0, Expiries = 0;
  mutable std::mutex Lock;
  std::map<std::string, TOperation> Operations;
  std::vector<TBytes> Throttled;
  std::vector<std::string> RefusalLog;
  std::unique_ptr<LoopbackHttpServer> Http;  // last: stops before the rest goes
};

// Microsoft Entra ID's client credentials for Service in the environment, for as long as it lives:
// the service grants tokens for them as the authority.
struct TTrustedSigningCredentials {
  explicit TTrustedSigningCredentials(const TrustedSigningService& Service)
      : Authority("AZURE_AUTHORITY_HOST", Service.AuthorityHost()) {}
  const TScopedEnvironment Authority;
  const TScopedEnvironment Tenant{"AZURE_TENANT_ID", TrustedSigningService::TenantId};
  const TScopedEnvironment Client{"AZURE_CLIENT_ID", TrustedSigningService::ClientId};
  const TScopedEnvironment Secret{"AZURE_CLIENT_SECRET", TrustedSigningService::ClientSecret};
};
