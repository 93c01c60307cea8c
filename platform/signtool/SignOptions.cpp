#include "SignOptions.h"

#include <algorithm>
#include <map>

#include "common/TextUtil.h"

namespace {
enum class TOption { Quiet, Verbose, Help, Pfx, Password, Timestamp, Rfc3161, Rfc3161Digest, Digest,
                     Description, DescriptionUrl };

std::optional<TOption> Known(const std::string& Name) {
  static const std::map<std::string, TOption> Options{
      {"q", TOption::Quiet},         {"v", TOption::Verbose},         {"?", TOption::Help},
      {"f", TOption::Pfx},           {"p", TOption::Password},        {"t", TOption::Timestamp},
      {"tr", TOption::Rfc3161},      {"td", TOption::Rfc3161Digest},  {"fd", TOption::Digest},
      {"d", TOption::Description},   {"du", TOption::DescriptionUrl}};
  const auto Found = Options.find(AsciiLower(Name));
  if (Found == Options.end()) return std::nullopt;
  return Found->second;
}

bool TakesValue(TOption Option) {
  return Option != TOption::Quiet && Option != TOption::Verbose && Option != TOption::Help;
}

// A word that starts with "/" or "-" is an option unless it has another "/" in it: then it is an
// absolute path, which on this system also starts with "/".
bool LooksLikeOption(const std::string& Word) {
  return Word.size() > 1 && (Word[0] == '/' || Word[0] == '-') && Word.find('/', 1) == std::string::npos;
}

std::optional<std::string> DigestName(const std::string& Name) {
  const std::string Lowered = AsciiLower(Name);
  if (Lowered == "sha1" || Lowered == "sha256" || Lowered == "sha384" || Lowered == "sha512") return Lowered;
  return std::nullopt;
}

TParseResult Fail(TParseResult Result, std::string Error) {
  Result.Options.reset();
  Result.Error = std::move(Error);
  return Result;
}
}  // namespace

TParseResult ParseSignCommand(const std::vector<std::string>& Arguments, std::size_t FirstIndex) {
  TParseResult Result;
  TSignOptions Options;
  std::optional<std::string> TimestampDigest;
  std::size_t I = 0;
  for (; I < Arguments.size() && LooksLikeOption(Arguments[I]); ++I) {
    const std::string& Word = Arguments[I];
    const std::optional<TOption> Option = Known(Word.substr(1));
    if (!Option) return Fail(Result, "Invalid option: " + Word);
    std::string Value;
    if (TakesValue(*Option)) {
      if (I + 1 >= Arguments.size()) return Fail(Result, "Missing parameter after option: " + Word);
      Value = Arguments[++I];
    }
    switch (*Option) {
      case TOption::Quiet: Options.Quiet = true; break;
      case TOption::Verbose: Options.Verbose = true; break;
      case TOption::Help: Options.ShowHelp = true; break;
      case TOption::Pfx: Options.PfxPath = Value; break;
      case TOption::Password:
        Options.Password = Value;
        Result.PasswordIndexes.push_back(FirstIndex + I);
        break;
      case TOption::Timestamp: Options.AuthenticodeUrl = Value; break;
      case TOption::Rfc3161: Options.Rfc3161Url = Value; break;
      case TOption::Description: Options.Description = Value; break;
      case TOption::DescriptionUrl: Options.DescriptionUrl = Value; break;
      case TOption::Digest:
      case TOption::Rfc3161Digest: {
        const std::optional<std::string> Digest = DigestName(Value);
        if (!Digest) return Fail(Result, "Invalid digest algorithm: " + Value);
        if (*Option == TOption::Digest)
          Options.Digest = *Digest;
        else
          TimestampDigest = *Digest;
        break;
      }
    }
  }
  Options.Files.assign(Arguments.begin() + static_cast<std::ptrdiff_t>(I), Arguments.end());
  if (Options.ShowHelp) {
    Result.Options = Options;
    return Result;
  }
  if (!Options.AuthenticodeUrl.empty() && !Options.Rfc3161Url.empty())
    return Fail(Result, "The /t and /tr options are incompatible.");
  if (TimestampDigest && Options.Rfc3161Url.empty())
    return Fail(Result, "The /td option requires the /tr option.");
  // osslsigncode time-stamps with the file digest; a different one cannot be honoured.
  if (TimestampDigest && *TimestampDigest != Options.Digest)
    return Fail(Result, "The /td digest algorithm must be the same as the /fd digest algorithm.");
  if (Options.PfxPath.empty()) return Fail(Result, "No certificates were found that met all the given criteria.");
  if (Options.Files.empty()) return Fail(Result, "Missing filename.");
  Result.Options = Options;
  return Result;
}
