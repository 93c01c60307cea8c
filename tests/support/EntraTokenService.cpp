#include "support/EntraTokenService.h"

#include <nlohmann/json.hpp>

#include <map>

#include "support/FormFields.h"

namespace {
THttpResponse Error(int Status, const std::string& Code, const std::string& Description) {
  const nlohmann::json Body{{"error", Code}, {"error_description", Description}};
  return {Status, "application/json; charset=utf-8", Body.dump()};
}
}  // namespace

EntraTokenService::EntraTokenService(std::string Tenant, std::string Client, std::string Secret, std::string Scope,
                                     std::string Token)
    : Tenant(std::move(Tenant)), Client(std::move(Client)), Secret(std::move(Secret)), Scope(std::move(Scope)),
      Token(std::move(Token)),
      Http(std::make_unique<LoopbackHttpServer>([this](const THttpRequest& Request) { return std::optional(Answer(Request)); })) {}

THttpResponse EntraTokenService::Answer(const THttpRequest& Request) {
  if (Request.Method != "POST" || Request.Target != "/" + Tenant + "/oauth2/v2.0/token")
    return Error(404, "invalid_request", "AADSTS90002: Tenant or endpoint not found.");
  const auto Type = Request.Headers.find("content-type");
  if (Type == Request.Headers.end() || Type->second != "application/x-www-form-urlencoded")
    return Error(400, "invalid_request", "AADSTS900144: The request body must be a form.");
  const std::map<std::string, std::string> Fields = FormFields(Request.Body);
  const auto Field = [&Fields](const char* Name) {
    const auto Found = Fields.find(Name);
    return Found == Fields.end() ? std::string() : Found->second;
  };
  if (Field("grant_type") != "client_credentials")
    return Error(400, "unsupported_grant_type", "AADSTS70003: The grant type is not supported.");
  if (Field("scope") != Scope) return Error(400, "invalid_scope", "AADSTS70011: The provided scope is not valid.");
  if (Field("client_id") != Client || Field("client_secret") != Secret)
    return Error(401, "invalid_client", "AADSTS7000215: Invalid client secret provided.");
  ++Granted;
  const nlohmann::json Body{{"token_type", "Bearer"}, {"expires_in", 3599}, {"ext_expires_in", 3599}, {"access_token", Token}};
  return {200, "application/json; charset=utf-8", Body.dump()};
}
