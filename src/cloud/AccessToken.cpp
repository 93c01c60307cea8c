#include "cloud/AccessToken.h"

#include <openssl/crypto.h>

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

TAccessToken Missing(std::string Detail) {
  TAccessToken Token;
  Token.Failure = {TKind::NoCredentials, std::move(Detail)};
  return Token;
}

// A tool that signs in may ask its user something: it gets a minute, not the whole run.
constexpr std::chrono::seconds ToolTimeLimit{60};
}  // namespace

TAccessToken::~TAccessToken() { Wipe(Value); }

TAccessToken::TAccessToken(TAccessToken&& Other) noexcept
    : Value(std::exchange(Other.Value, {})), Failure(std::move(Other.Failure)) {}

TAccessToken& TAccessToken::operator=(TAccessToken&& Other) noexcept {
  if (this != &Other) {
    Wipe(Value);
    Value = std::exchange(Other.Value, {});
    Failure = std::move(Other.Failure);
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
  return Token;
}

TAccessToken GoogleAccessToken(std::string_view Secret, const TCloudLink& Link) {
  if (std::any_of(Secret.begin(), Secret.end(), [](char Character) { return static_cast<unsigned char>(Character) > 32; }))
    return Given(Secret);
  if (const char* Variable = std::getenv("GOOGLE_OAUTH_ACCESS_TOKEN"); Variable && *Variable) return Given(Variable);
  return TokenFromTool("gcloud", {"auth", "print-access-token"}, Link);
}
