#include "VerifyCommand.h"

#include <cstdio>

#include "CommandOutput.h"
#include "FileArguments.h"
#include "common/TextUtil.h"
#include "authenticode/VerifySignature.h"

namespace {
constexpr char Usage[] =
    "Usage: signtool verify [options] <filename(s)>\n"
    "\n"
    "/pa        Use the Default Authentication Verification Policy (the only one there is here).\n"
    "/all       Verify every signature of a file, those nested in the primary one too.\n"
    "/q         No output on success and minimal output on failure.\n"
    "/v         Print the signer, the timestamp and the verifier's full verdict.\n"
    "/trust <f> Trust the certificates in <f> (PEM or DER files, or folders, separated by ';')\n"
    "           besides the system's.\n"
    "\n"
    "Exit code: 0 when every signature is valid and timestamped, 2 when some are valid but carry\n"
    "no timestamp, 1 when any file fails.\n";

struct TVerifyOptions {
  bool Quiet = false, Verbose = false, Help = false, All = false;
  std::string Trust;
  std::vector<std::string> Words;
};

// The verdict in signtool's words; empty for a valid signature.
std::string ProblemOf(TVerifyState State) {
  switch (State) {
    case vsValid:
    case vsValidNoTimestamp: return {};
    case vsUnsigned: return Say(TMessage::Unsigned);
    case vsTampered: return Say(TMessage::DidNotVerify);
    case vsUntrusted: return Say(TMessage::Untrusted);
    case vsExpired: return Say(TMessage::Expired);
    case vsUnsupported: return Say(TMessage::NotVerifiable);
    case vsUnreadable: return Say(TMessage::Malformed);
  }
  return Say(TMessage::NotVerified);
}

void PrintVerdict(const std::string& Signer, const std::string& TimeStamp, const std::string& Verdict) {
  if (!Signer.empty()) PrintLine(TMessage::Signer, {Signer});
  PrintLine(TMessage::Timestamp, {TimeStamp.empty() ? Say(TMessage::NoTimestamp) : TimeStamp});
  if (!Verdict.empty()) PrintLine(TMessage::Verdict, {Verdict});
}

bool Parse(const std::vector<std::string>& Arguments, TVerifyOptions& Options, std::string& Error) {
  std::size_t I = 0;
  for (; I < Arguments.size(); ++I) {
    const std::string Word = AsciiLower(Arguments[I]);
    if (Word.size() < 2 || (Word[0] != '/' && Word[0] != '-')) break;
    const std::string Name = Word.substr(1);
    if (Name == "pa") continue;
    if (Name == "q") Options.Quiet = true;
    else if (Name == "all") Options.All = true;
    else if (Name == "v") Options.Verbose = true;
    else if (Name == "?") Options.Help = true;
    else if (Name == "trust" && I + 1 < Arguments.size()) Options.Trust = Arguments[++I];
    else if (Name == "trust") {
      Error = Say(TMessage::MissingOptionValue, {Arguments[I]});
      return false;
    } else if (Arguments[I].find_first_of("/.", 1) == std::string::npos) {
      Error = Say(TMessage::InvalidOption, {Arguments[I]});
      return false;
    } else {
      break;  // an absolute path
    }
  }
  Options.Words.assign(Arguments.begin() + static_cast<std::ptrdiff_t>(I), Arguments.end());
  return true;
}
}  // namespace

int RunVerify(const std::vector<std::string>& Arguments) {
  TVerifyOptions Options;
  std::string Error;
  if (!Parse(Arguments, Options, Error)) {
    PrintError(Error);
    return ExitFailure;
  }
  if (Options.Help) {
    std::fputs(Usage, stdout);
    return ExitSuccess;
  }
  const TFileArguments Files = ExpandFileArguments(Options.Words);
  if (!Files.Error.empty()) {
    PrintError(Files.Error);
    return ExitFailure;
  }
  int Verified = 0, Warnings = 0, Errors = 0;
  for (const std::string& File : Files.Files) {
    const TVerifyResult Result = VerifySignature(File, Options.Trust, [](const char*, const char* Text) {
      return MarkedTextIn(OutputLanguage(), Text);
    });
    if (Options.Verbose) {
      PrintLine(TMessage::Verifying, {File});
      if (Options.All) PrintLine(TMessage::PrimarySignatureIndex);
      PrintVerdict(Result.Signer, Result.TimeStamp, Result.Message);
    }
    // With /all every signature counts, the first that fails or lacks a timestamp telling why.
    std::string Problem = ProblemOf(Result.State);
    bool Unstamped = Result.State == vsValidNoTimestamp;
    std::size_t Index = 0;
    const std::vector<TNestedSignatureResult> NoneChecked;
    for (const TNestedSignatureResult& Nested : Options.All ? Result.Nested : NoneChecked) {
      ++Index;
      if (Options.Verbose) {
        PrintLine(TMessage::SignatureIndex, {std::to_string(Index)});
        PrintVerdict(Nested.Signer, Nested.TimeStamp, Nested.Reason);
      }
      if (Problem.empty() && !ProblemOf(Nested.State).empty())
        Problem = Say(TMessage::InNestedSignature, {ProblemOf(Nested.State), std::to_string(Index)});
      Unstamped = Unstamped || Nested.State == vsValidNoTimestamp;
    }
    if (Options.All && Problem.empty() && Result.UncheckedNested > 0)
      Problem = Say(TMessage::NestedBeyondVerifying, {std::to_string(Result.UncheckedNested)});
    if (!Problem.empty()) {
      ++Errors;
      PrintError(Problem + " " + File);
      continue;
    }
    ++Verified;
    if (!Options.Quiet) PrintLine(TMessage::Verified, {File});
    if (Unstamped) {
      ++Warnings;
      PrintWarning(Say(TMessage::ValidWithoutTimestamp, {File}));
    }
  }
  if (Options.Verbose)
    PrintCounts({{TMessage::VerifiedCount, Verified}, {TMessage::WarningCount, Warnings}, {TMessage::ErrorCount, Errors}});
  return ExitCodeOf(Errors, Warnings);
}
