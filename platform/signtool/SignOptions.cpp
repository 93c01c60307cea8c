#include "SignOptions.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "CommandOutput.h"
#include "common/TextUtil.h"

namespace {
enum class TOption { Quiet, Verbose, Help, Pfx, Password, Timestamp, Rfc3161, Rfc3161Digest, Digest,
                     Description, DescriptionUrl, KeyContainer, Module, Thumbprint, SubjectName,
                     AdditionalCertificates, AppendSignature, PasswordVariable, PasswordDescriptor, Parallel, Report, Lazy };

std::optional<TOption> Known(const std::string& Name) {
  static const std::map<std::string, TOption> Options{
      {"q", TOption::Quiet},         {"v", TOption::Verbose},         {"?", TOption::Help},
      {"f", TOption::Pfx},           {"p", TOption::Password},        {"t", TOption::Timestamp},
      {"tr", TOption::Rfc3161},      {"td", TOption::Rfc3161Digest},  {"fd", TOption::Digest},
      {"d", TOption::Description},   {"du", TOption::DescriptionUrl}, {"kc", TOption::KeyContainer},
      {"csp", TOption::Module},      {"sha1", TOption::Thumbprint},   {"n", TOption::SubjectName},
      {"ac", TOption::AdditionalCertificates}, {"as", TOption::AppendSignature},
      {"penv", TOption::PasswordVariable},     {"pfd", TOption::PasswordDescriptor},
      {"mt", TOption::Parallel},               {"report", TOption::Report},
      {"lazy", TOption::Lazy}};
  const auto Found = Options.find(AsciiLower(Name));
  if (Found == Options.end()) return std::nullopt;
  return Found->second;
}

bool TakesValue(TOption Option) {
  return Option != TOption::Quiet && Option != TOption::Verbose && Option != TOption::Help &&
         Option != TOption::AppendSignature && Option != TOption::Lazy;
}

bool StartsLikeOption(const std::string& Word) { return Word.size() > 1 && (Word[0] == '/' || Word[0] == '-'); }

// Absolute paths start with "/" here too, so only the known option names are options. A word that
// merely looks like one (no further "/", no ".") and names no file is a mistyped option.
bool IsMistypedOption(const std::string& Word) {
  struct stat Info {};
  return StartsLikeOption(Word) && Word.find_first_of("/.", 1) == std::string::npos &&
         ::stat(Word.c_str(), &Info) != 0;
}

// The thumbprint with its blanks removed and in upper case, when it is 40 hexadecimal digits.
std::optional<std::string> ThumbprintOf(const std::string& Text) {
  std::string Digits;
  for (char C : Text) {
    if (C == ' ' || C == '\t') continue;
    if (C >= 'a' && C <= 'f') C = static_cast<char>(C - 'a' + 'A');
    if (!((C >= '0' && C <= '9') || (C >= 'A' && C <= 'F'))) return std::nullopt;
    Digits += C;
  }
  if (Digits.size() != 40) return std::nullopt;
  return Digits;
}

std::optional<std::string> DigestName(const std::string& Name) {
  const std::string Lowered = AsciiLower(Name);
  if (Lowered == "sha1" || Lowered == "sha256" || Lowered == "sha384" || Lowered == "sha512") return Lowered;
  return std::nullopt;
}

std::optional<int> SmallNumber(const std::string& Text) {
  if (Text.empty() || Text.size() > 6 || Text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return std::stoi(Text);
}

TParseResult Fail(TParseResult Result, std::string Error) {
  Result.Options.reset();
  Result.Error = std::move(Error);
  return Result;
}

// What sign and timestamp both require of /t, /tr and /td: one kind of server at most, and /td
// only with /tr. The complaint about the first rule Options break.
std::optional<std::string> TimestampOptionsProblem(const TSignOptions& Options) {
  if (!Options.AuthenticodeUrl.empty() && !Options.Rfc3161Url.empty()) return Say(TMessage::TimestampOptionsClash);
  if (!Options.TimestampDigest.empty() && Options.Rfc3161Url.empty()) return Say(TMessage::DigestNeedsRfc3161);
  return std::nullopt;
}
}  // namespace

TParseResult ParseSignCommand(const std::vector<std::string>& Arguments, std::size_t FirstIndex) {
  TParseResult Result;
  TSignOptions Options;
  std::size_t I = 0;
  for (; I < Arguments.size(); ++I) {
    const std::string& Word = Arguments[I];
    const std::optional<TOption> Option = StartsLikeOption(Word) ? Known(Word.substr(1)) : std::nullopt;
    if (!Option && IsMistypedOption(Word)) return Fail(Result, Say(TMessage::InvalidOption, {Word}));
    if (!Option) break;
    std::string Value;
    if (TakesValue(*Option)) {
      if (I + 1 >= Arguments.size()) return Fail(Result, Say(TMessage::MissingOptionValue, {Word}));
      Value = Arguments[++I];
    }
    switch (*Option) {
      case TOption::Quiet: Options.Quiet = true; break;
      case TOption::Verbose: Options.Verbose = true; break;
      case TOption::Help: Options.ShowHelp = true; break;
      case TOption::AppendSignature: Options.AppendSignature = true; break;
      case TOption::Pfx: Options.FilePath = Value; break;
      case TOption::KeyContainer: Options.KeyContainer = Value; break;
      case TOption::Module: Options.Module = Value; break;
      case TOption::SubjectName: Options.SubjectName = Value; break;
      case TOption::AdditionalCertificates: Options.AdditionalCertificates = Value; break;
      case TOption::Thumbprint:
        Options.Thumbprint = ThumbprintOf(Value).value_or(std::string());
        if (Options.Thumbprint.empty()) return Fail(Result, Say(TMessage::InvalidThumbprint, {Value}));
        break;
      case TOption::Password:
        Options.Password = Value;
        Result.PasswordIndexes.push_back(FirstIndex + I);
        break;
      case TOption::PasswordVariable: Options.PasswordVariable = Value; break;
      case TOption::PasswordDescriptor: {
        const std::optional<int> Descriptor = SmallNumber(Value);
        if (!Descriptor) return Fail(Result, Say(TMessage::InvalidDescriptor, {Value}));
        Options.PasswordDescriptor = *Descriptor;
        break;
      }
      case TOption::Parallel: {
        const std::optional<int> Count = SmallNumber(Value);
        if (!Count || *Count < 1 || *Count > 64) return Fail(Result, Say(TMessage::InvalidParallel, {Value}));
        Options.Parallel = *Count;
        break;
      }
      case TOption::Report: Options.ReportPath = Value; break;
      case TOption::Lazy: Options.Lazy = true; break;
      case TOption::Timestamp: Options.AuthenticodeUrl = Value; break;
      case TOption::Rfc3161: Options.Rfc3161Url = Value; break;
      case TOption::Description: Options.Description = Value; break;
      case TOption::DescriptionUrl: Options.DescriptionUrl = Value; break;
      case TOption::Digest:
      case TOption::Rfc3161Digest: {
        const std::optional<std::string> Digest = DigestName(Value);
        if (!Digest) return Fail(Result, Say(TMessage::InvalidDigest, {Value}));
        if (*Option == TOption::Digest)
          Options.Digest = *Digest;
        else
          Options.TimestampDigest = *Digest;
        break;
      }
    }
  }
  Options.Files.assign(Arguments.begin() + static_cast<std::ptrdiff_t>(I), Arguments.end());
  if (Options.ShowHelp) {
    Result.Options = Options;
    return Result;
  }
  if (const std::optional<std::string> Problem = TimestampOptionsProblem(Options)) return Fail(Result, *Problem);
  if (Options.TimestampDigest.empty()) Options.TimestampDigest = Options.Digest;
  if ((Options.Password ? 1 : 0) + (Options.PasswordVariable.empty() ? 0 : 1) + (Options.PasswordDescriptor >= 0 ? 1 : 0) > 1)
    return Fail(Result, Say(TMessage::PasswordOptionsClash));
  const bool ChosenOnToken = !Options.Thumbprint.empty() || !Options.SubjectName.empty();
  if (!Options.KeyContainer.empty() && ChosenOnToken)
    return Fail(Result, Say(TMessage::KeyContainerClash));
  if (!Options.Module.empty() && Options.KeyContainer.empty() && !ChosenOnToken)
    return Fail(Result, Say(TMessage::ModuleNeedsKey));
  if (!Options.FilePath.empty() && ChosenOnToken)
    return Fail(Result, Say(TMessage::FileWithSelection));
  if (Options.FilePath.empty() && Options.KeyContainer.empty() && !ChosenOnToken)
    return Fail(Result, Say(TMessage::NoCertificateFound));
  if (Options.Files.empty()) return Fail(Result, Say(TMessage::MissingFilename));
  Result.Options = Options;
  return Result;
}

TParseResult ParseTimestampCommand(const std::vector<std::string>& Arguments) {
  TParseResult Result;
  TSignOptions Options;
  std::size_t I = 0;
  for (; I < Arguments.size(); ++I) {
    const std::string& Word = Arguments[I];
    const std::optional<TOption> Option = StartsLikeOption(Word) ? Known(Word.substr(1)) : std::nullopt;
    const bool Mistyped = !Option && IsMistypedOption(Word);
    if (Mistyped || (Option && *Option != TOption::Quiet && *Option != TOption::Verbose && *Option != TOption::Help &&
                     *Option != TOption::Timestamp && *Option != TOption::Rfc3161 && *Option != TOption::Rfc3161Digest))
      return Fail(Result, Say(TMessage::InvalidOption, {Word}));
    if (!Option) break;
    if (!TakesValue(*Option)) {
      if (*Option == TOption::Quiet) Options.Quiet = true;
      if (*Option == TOption::Verbose) Options.Verbose = true;
      if (*Option == TOption::Help) Options.ShowHelp = true;
      continue;
    }
    if (I + 1 >= Arguments.size()) return Fail(Result, Say(TMessage::MissingOptionValue, {Word}));
    const std::string& Value = Arguments[++I];
    if (*Option == TOption::Timestamp) Options.AuthenticodeUrl = Value;
    if (*Option == TOption::Rfc3161) Options.Rfc3161Url = Value;
    if (*Option == TOption::Rfc3161Digest) {
      const std::optional<std::string> Digest = DigestName(Value);
      if (!Digest) return Fail(Result, Say(TMessage::InvalidDigest, {Value}));
      Options.TimestampDigest = *Digest;
    }
  }
  Options.Files.assign(Arguments.begin() + static_cast<std::ptrdiff_t>(I), Arguments.end());
  if (Options.ShowHelp) {
    Result.Options = Options;
    return Result;
  }
  if (const std::optional<std::string> Problem = TimestampOptionsProblem(Options)) return Fail(Result, *Problem);
  if (Options.AuthenticodeUrl.empty() && Options.Rfc3161Url.empty())
    return Fail(Result, Say(TMessage::TimestampServerRequired));
  if (Options.TimestampDigest.empty()) Options.TimestampDigest = "sha256";
  if (Options.Files.empty()) return Fail(Result, Say(TMessage::MissingFilename));
  Result.Options = Options;
  return Result;
}
