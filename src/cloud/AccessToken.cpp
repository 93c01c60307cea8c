#include "cloud/AccessToken.h"

#include <openssl/crypto.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "common/ProcessRunner.h"
#include "common/TextUtil.h"

namespace {
using TKind = TCloudFailure::TKind;

void Wipe(std::string& Text) {
  OPENSSL_cleanse(Text.data(), Text.size());
  Text.clear();
}

TAccessToken Given(std::string_view Value) {
  TAccessToken Token;
  Token.Value = Trim(Value);
  return Token;
}

bool IsGiven(std::string_view Secret) {
  return std::any_of(Secret.begin(), Secret.end(), [](char Character) { return static_cast<unsigned char>(Character) > 32; });
}

TAccessToken Missing(std::string Detail) {
  TAccessToken Token;
  Token.Failure = {TKind::NoCredentials, std::move(Detail)};
  return Token;
}

// A tool that signs in may ask its user something: it gets a minute, not the whole run.
constexpr std::chrono::seconds ToolTimeLimit{60};
std::string Variable(const char* Name) {
  const char* Value = std::getenv(Name);
  return Value ? Value : "";
}

// Microsoft Entra ID's client credentials flow for Resource's default scope.
TAccessToken ClientCredentialsToken(const std::string& Tenant, const std::string& Client, const std::string& Secret,
                                    const std::string& Resource, const TCloudLink& Link) {
  std::string Authority = Variable("AZURE_AUTHORITY_HOST");
  if (Authority.empty()) Authority = "https://login.microsoftonline.com";
  while (Authority.ends_with('/')) Authority.pop_back();
  std::string Body = "grant_type=client_credentials&client_id=" + PercentEncode(Client) +
                     "&client_secret=" + PercentEncode(Secret) + "&scope=" + PercentEncode(Resource + "/.default");
  TCloudAnswer Answer = CallCloud({"POST", Authority + "/" + PercentEncode(Tenant) + "/oauth2/v2.0/token",
                                   {"Content-Type: application/x-www-form-urlencoded"}, Body, {}},
                                  Link);
  Wipe(Body);
  TAccessToken Token;
  if (Answer.Failure) {
    Token.Failure = Answer.Failure;
    Token.Failure.Detail = "Microsoft Entra ID: " + Token.Failure.Detail;
    return Token;
  }
  const nlohmann::json Granted = nlohmann::json::parse(Answer.Body, nullptr, false);
  Wipe(Answer.Body);
  const auto Found = Granted.is_object() ? Granted.find("access_token") : Granted.end();
  if (!Granted.is_object() || Found == Granted.end() || !Found->is_string() || Found->get<std::string>().empty()) {
    Token.Failure = {TKind::Malformed, "Microsoft Entra ID's answer has no access token"};
    return Token;
  }
  Token.Value = Found->get<std::string>();
  Token.Renewable = true;
  return Token;
}

}  // namespace

TAccessToken::~TAccessToken() { Wipe(Value); }

TAccessToken::TAccessToken(TAccessToken&& Other) noexcept
    : Value(std::exchange(Other.Value, {})), Failure(std::move(Other.Failure)), Renewable(Other.Renewable) {}

TAccessToken& TAccessToken::operator=(TAccessToken&& Other) noexcept {
  if (this != &Other) {
    Wipe(Value);
    Value = std::exchange(Other.Value, {});
    Failure = std::move(Other.Failure);
    Renewable = Other.Renewable;
  }
  return *this;
}

std::string BearerHeader(const TAccessToken& Token) { return "Authorization: Bearer " + Token.Value; }

TAccessToken TokenFromTool(const std::string& Program, const std::vector<std::string>& Arguments, const TCloudLink& Link) {
  const std::optional<std::string> Found = FindProgram(Program, PathFolders());
  if (!Found) return Missing("no token was given, and " + Program + " is not on PATH");
  TRunRequest Run;
  Run.Program = *Found;
  Run.Arguments.push_back(Program);
  Run.Arguments.insert(Run.Arguments.end(), Arguments.begin(), Arguments.end());
  Run.KeepOutput = true;
  Run.Deadline = std::min(Link.Deadline, TSteadyClock::now() + ToolTimeLimit);
  TRunResult Result = RunProcess(Run);
  const auto WipeOutput = [&Result] { Wipe(Result.Output); };
  if (!Result.Succeeded()) {
    WipeOutput();
    const std::string Said = Trim(CutUtf8(Result.Errors.substr(0, Result.Errors.find('\n')), 300));
    return Missing(Program + " did not give a token" + (Said.empty() ? std::string() : " (" + Said + ")"));
  }
  const std::size_t LineEnd = Result.Output.find('\n');
  TAccessToken Token = Given(std::string_view(Result.Output).substr(0, LineEnd));
  WipeOutput();
  if (Token.Value.empty()) return Missing(Program + " printed no token");
  Token.Renewable = true;
  return Token;
}

TAccessToken GoogleAccessToken(std::string_view Secret, const TCloudLink& Link) {
  if (IsGiven(Secret)) return Given(Secret);
  if (const char* Variable = std::getenv("GOOGLE_OAUTH_ACCESS_TOKEN"); Variable && *Variable) return Given(Variable);
  return TokenFromTool("gcloud", {"auth", "print-access-token"}, Link);
}

TAccessToken AzureAccessToken(std::string_view Secret, const std::string& Resource, const TCloudLink& Link) {
  if (IsGiven(Secret)) return Given(Secret);
  if (const std::string Token = Variable("AZURE_ACCESS_TOKEN"); !Token.empty()) return Given(Token);
  const std::string Tenant = Variable("AZURE_TENANT_ID"), Client = Variable("AZURE_CLIENT_ID");
  const std::string ClientSecret = Variable("AZURE_CLIENT_SECRET");
  if (!Tenant.empty() && !Client.empty() && !ClientSecret.empty())
    return ClientCredentialsToken(Tenant, Client, ClientSecret, Resource, Link);
  return TokenFromTool("az", {"account", "get-access-token", "--resource", Resource, "--query", "accessToken", "--output", "tsv"},
                       Link);
}
