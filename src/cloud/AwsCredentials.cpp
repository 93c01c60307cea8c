#include "cloud/AwsCredentials.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <algorithm>
#include <map>
#include <optional>
#include <string_view>

#include "common/SmallFileRead.h"
#include "common/TextUtil.h"

namespace {
constexpr std::size_t MaxCredentialsFileBytes = 1024 * 1024;

std::string Environment(const char* Name) {
  const char* Value = std::getenv(Name);
  return Value != nullptr ? Value : "";
}

std::string HomeFolder() {
  if (const std::string Home = Environment("HOME"); !Home.empty()) return Home;
  const passwd* User = ::getpwuid(::getuid());
  return User != nullptr && User->pw_dir != nullptr ? User->pw_dir : "";
}

std::string CredentialsFilePath() {
  std::string Path = Environment("AWS_SHARED_CREDENTIALS_FILE");
  if (Path.empty()) return HomeFolder() + "/.aws/credentials";
  if (Path == "~" || Path.starts_with("~/")) Path = HomeFolder() + Path.substr(1);
  return Path;
}

// The keys of section Profile in an INI text ("[name]", "key = value", "#" and ";" comments).
std::optional<std::map<std::string, std::string>> ProfileSettings(std::string_view Text, const std::string& Profile) {
  std::optional<std::map<std::string, std::string>> Settings;
  bool InProfile = false;
  while (!Text.empty()) {
    const std::size_t End = std::min(Text.find('\n'), Text.size());
    const std::string Line = Trim(Text.substr(0, End));
    Text.remove_prefix(std::min(End + 1, Text.size()));
    if (Line.empty() || Line.front() == '#' || Line.front() == ';') continue;
    if (Line.front() == '[' && Line.back() == ']') {
      InProfile = Trim(std::string_view(Line).substr(1, Line.size() - 2)) == Profile;
      if (InProfile && !Settings) Settings.emplace();
      continue;
    }
    const std::size_t Equals = Line.find('=');
    if (InProfile && Equals != std::string::npos)
      (*Settings)[AsciiLower(Trim(Line.substr(0, Equals)))] = Trim(Line.substr(Equals + 1));
  }
  return Settings;
}

TAwsCredentialsLookup Failed(std::string Problem) { return {{}, std::move(Problem)}; }

TAwsCredentialsLookup FromCredentialsFile() {
  const std::string Profile = Environment("AWS_PROFILE").empty() ? "default" : Environment("AWS_PROFILE");
  const std::string Path = CredentialsFilePath();
  std::string Text;
  switch (ReadSmallFile(Path, MaxCredentialsFileBytes, Text)) {
    case TSmallFileRead::Read: break;
    case TSmallFileRead::Missing:
      return Failed("No AWS credentials: AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY are not set and " + Path +
                    " does not exist");
    case TSmallFileRead::Unreadable: return Failed("The AWS credentials file " + Path + " cannot be read");
  }
  const auto Settings = ProfileSettings(Text, Profile);
  if (!Settings) return Failed("The AWS credentials file " + Path + " has no profile \"" + Profile + "\"");
  TAwsCredentials Credentials;
  const auto Setting = [&](const char* Name) {
    const auto Found = Settings->find(Name);
    return Found != Settings->end() ? Found->second : std::string();
  };
  Credentials.AccessKeyId = Setting("aws_access_key_id");
  Credentials.SecretAccessKey = Setting("aws_secret_access_key");
  Credentials.SessionToken = Setting("aws_session_token");
  if (Credentials.AccessKeyId.empty() || Credentials.SecretAccessKey.empty())
    return Failed("The profile \"" + Profile + "\" in " + Path +
                  " lacks aws_access_key_id or aws_secret_access_key");
  return {Credentials, {}};
}
}  // namespace

TAwsCredentialsLookup FindAwsCredentials() {
  TAwsCredentials Credentials{Environment("AWS_ACCESS_KEY_ID"), Environment("AWS_SECRET_ACCESS_KEY"),
                              Environment("AWS_SESSION_TOKEN")};
  if (Credentials.AccessKeyId.empty() && Credentials.SecretAccessKey.empty()) return FromCredentialsFile();
  if (Credentials.AccessKeyId.empty() || Credentials.SecretAccessKey.empty())
    return Failed("AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY must be set together");
  return {Credentials, {}};
}
