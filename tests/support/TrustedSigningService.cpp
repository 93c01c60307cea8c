#include "support/TrustedSigningService.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>

#include "common/Base64.h"
#include "support/TestPki.h"

namespace {
using nlohmann::json;

// application/x-www-form-urlencoded fields.
std::map<std::string, std::string> FormFields(const std::string& Body) {
  std::map<std::string, std::string> Fields;
  const auto Decode = [](const std::string& Text) {
    std::string Plain;
    for (std::size_t I = 0; I < Text.size(); ++I) {
      if (Text[I] == '+') Plain += ' ';
      else if (Text[I] == '%' && I + 2 < Text.size()) Plain += static_cast<char>(std::stoi(Text.substr(I + 1, 2), nullptr, 16)), I += 2;
      else Plain += Text[I];
    }
    return Plain;
  };
  std::size_t Start = 0;
  while (Start <= Body.size()) {
    const std::size_t End = std::min(Body.find('&', Start), Body.size());
    const std::string Field = Body.substr(Start, End - Start);
    const std::size_t Equals = Field.find('=');
    if (Equals != std::string::npos) Fields[Decode(Field.substr(0, Equals))] = Decode(Field.substr(Equals + 1));
    Start = End + 1;
  }
  return Fields;
}

const EVP_MD* DigestOfAlgorithm(const std::string& Algorithm) {
  if (Algorithm == "RS256") return EVP_sha256();
  if (Algorithm == "RS384") return EVP_sha384();
  if (Algorithm == "RS512") return EVP_sha512();
  return nullptr;
}

THttpResponse JsonAnswer(int Status, const json& Body, std::map<std::string, std::string> Headers = {}) {
  return {Status, "application/json; charset=utf-8", Body.dump(), std::move(Headers)};
}
}  // namespace

TrustedSigningService::TrustedSigningService(TTrustedSigningBehaviour Behaviour, std::chrono::milliseconds SignTime)
    : Behaviour(Behaviour),
      SignTime(SignTime),
      Key(TestPki().SignerKeyPath, {TestPki().SignerCertPath, TestPki().CaCertPath}),
      Http(std::make_unique<LoopbackHttpServer>([this](const THttpRequest& Request) { return Answer(Request); })) {}

TrustedSigningService::~TrustedSigningService() { Http.reset(); }

std::string TrustedSigningService::Address() const {
  return "trustedsigning://127.0.0.1:" + std::to_string(Http->Port()) + "/" + Account + "/" + Profile;
}

std::string TrustedSigningService::CurrentToken() const {
  const int Round = Expiries;
  return Round == 0 ? std::string(Token) : Token + ("." + std::to_string(Round));
}

std::vector<std::string> TrustedSigningService::Refusals() const {
  const std::lock_guard Guard(Lock);
  return RefusalLog;
}

THttpResponse TrustedSigningService::Refuse(int Status, const std::string& Code, const std::string& Message) {
  {
    const std::lock_guard Guard(Lock);
    RefusalLog.push_back(std::to_string(Status) + " " + Code + ": " + Message);
  }
  std::map<std::string, std::string> Headers{{"x-ms-error-code", Code}};
  if (Status == 401) Headers["WWW-Authenticate"] = "Bearer";
  return JsonAnswer(Status, {{"error", {{"code", Code}, {"message", Message}}}}, Headers);
}

std::optional<THttpResponse> TrustedSigningService::Answer(const THttpRequest& Request) {
  const std::string TokenPath = std::string("/") + TenantId + "/oauth2/v2.0/token";
  if (Request.Target == TokenPath) return IssueToken(Request.Method, Request.Body);
  const std::string Profiles = std::string("/codesigningaccounts/") + Account + "/certificateprofiles/" + Profile + "/sign";
  const std::string Query = std::string("?api-version=") + ApiVersion;
  if (!Request.Target.starts_with(Profiles) || !Request.Target.ends_with(Query))
    return Refuse(404, "NotFound", "no such account, profile or API version: " + Request.Target);
  const std::string Rest = Request.Target.substr(Profiles.size(), Request.Target.size() - Profiles.size() - Query.size());
  const auto Authorization = Request.Headers.find("authorization");
  if (Behaviour == TTrustedSigningBehaviour::Unauthorized || Authorization == Request.Headers.end() ||
      Authorization->second != "Bearer " + CurrentToken())
    return Refuse(401, "Unauthorized", "The access token is missing, invalid or expired.");
  if (Request.Method == "POST" && Rest.empty()) {
    if (Behaviour == TTrustedSigningBehaviour::Forbidden)
      return Refuse(403, "Forbidden", "The caller is not a Trusted Signing Certificate Profile Signer of this profile.");
    return Submit(Request.Body);
  }
  if (Request.Method == "GET" && Rest == "/certchain") {
    ++Chains;
    const TBytes Chain = Key.ChainPkcs7Der();
    return THttpResponse{200, "application/pkcs7-mime", std::string(Chain.begin(), Chain.end())};
  }
  if (Request.Method == "GET" && Rest.starts_with("/")) return Status(Rest.substr(1));
  return Refuse(405, "MethodNotAllowed", Request.Method + " " + Request.Target);
}

THttpResponse TrustedSigningService::IssueToken(const std::string& Method, const std::string& Body) {
  const std::map<std::string, std::string> Fields = FormFields(Body);
  const auto Field = [&Fields](const char* Name) {
    const auto Found = Fields.find(Name);
    return Found != Fields.end() ? Found->second : std::string();
  };
  if (Method != "POST" || Field("grant_type") != "client_credentials" || Field("client_id") != ClientId ||
      Field("client_secret") != ClientSecret || Field("scope") != "https://codesigning.azure.net/.default") {
    const std::lock_guard Guard(Lock);
    RefusalLog.push_back("token refused");
    return JsonAnswer(401, {{"error", "invalid_client"}, {"error_description", "AADSTS7000215: Invalid client secret provided."}});
  }
  ++Tokens;
  return JsonAnswer(200, {{"token_type", "Bearer"}, {"expires_in", 3599}, {"ext_expires_in", 3599}, {"access_token", CurrentToken()}});
}

THttpResponse TrustedSigningService::Submit(const std::string& Body) {
  const json Request = json::parse(Body, nullptr, false);
  if (!Request.is_object() || !Request.contains("digest") || !Request["digest"].is_string())
    return Refuse(400, "BadRequest", "the body holds no digest");
  const EVP_MD* Md = DigestOfAlgorithm(Request.value("signatureAlgorithm", ""));
  if (Md == nullptr) return Refuse(400, "BadRequest", "unsupported signatureAlgorithm");
  const TBytes Digest = DecodeBase64(Request["digest"].get<std::string>());
  TBytes Signature = Key.SignDigest(Digest, Md);
  if (Signature.empty()) return Refuse(400, "BadRequest", "the digest's length does not fit the algorithm");
  const std::lock_guard Guard(Lock);
  if (Behaviour == TTrustedSigningBehaviour::ThrottleFirst &&
      std::find(Throttled.begin(), Throttled.end(), Digest) == Throttled.end()) {
    Throttled.push_back(Digest);
    RefusalLog.push_back("429 throttled");
    return JsonAnswer(429, {{"error", {{"code", "TooManyRequests"}, {"message", "Rate limit reached."}}}},
                      {{"Retry-After", "1"}});
  }
  ++Signs;
  const std::string OperationId = "op-" + std::to_string(Operations.size() + 1);
  Operations[OperationId] = {std::chrono::steady_clock::now() + SignTime, std::move(Signature)};
  return JsonAnswer(202, {{"operationId", OperationId}, {"status", "InProgress"}});
}

THttpResponse TrustedSigningService::Status(const std::string& OperationId) {
  if (Behaviour == TTrustedSigningBehaviour::Malformed)
    return THttpResponse{200, "application/json", "{\"operationId\": \"" + OperationId + "\", \"status\": "};
  const std::lock_guard Guard(Lock);
  const auto Operation = Operations.find(OperationId);
  if (Operation == Operations.end()) return JsonAnswer(404, {{"error", {{"code", "NotFound"}, {"message", "no such operation"}}}});
  if (Behaviour == TTrustedSigningBehaviour::NeverFinish || std::chrono::steady_clock::now() < Operation->second.Done)
    return JsonAnswer(200, {{"operationId", OperationId}, {"status", "InProgress"}});
  return JsonAnswer(200, {{"operationId", OperationId},
                          {"status", "Succeeded"},
                          {"signature", EncodeBase64(Operation->second.Signature)},
                          {"signingCertificate", EncodeBase64(Key.CertificateDer())}});
}
