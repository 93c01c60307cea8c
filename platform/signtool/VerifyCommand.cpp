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
    "/q         No output on success and minimal output on failure.\n"
    "/v         Print the signer, the timestamp and the verifier's full verdict.\n"
    "/trust <f> Trust the certificates in <f> (PEM or DER files, or folders, separated by ';')\n"
    "           besides the system's.\n"
    "\n"
    "Exit code: 0 when every signature is valid and timestamped, 2 when some are valid but carry\n"
    "no timestamp, 1 when any file fails.\n";

struct TVerifyOptions {
  bool Quiet = false, Verbose = false, Help = false;
  std::string Trust;
  std::vector<std::string> Words;
};

// The verdict in signtool's words; empty for a valid signature.
std::string ProblemOf(TVerifyState State) {
  switch (State) {
    case vsValid:
    case vsValidNoTimestamp: return {};
    case vsUnsigned: return "No signature found.";
    case vsTampered: return "The digital signature of the object did not verify.";
    case vsUntrusted:
      return "A certificate chain processed, but terminated in a root certificate which is not trusted by the "
             "trust provider.";
    case vsExpired:
      return "A required certificate is not within its validity period when verifying against the current system "
             "clock or the timestamp in the signed file.";
    case vsUnsupported: return "This file format cannot be verified because it is not recognized.";
    case vsUnreadable: return "The file cannot be read, or its signature data is malformed.";
  }
  return "The signature could not be verified.";
}

bool Parse(const std::vector<std::string>& Arguments, TVerifyOptions& Options, std::string& Error) {
  std::size_t I = 0;
  for (; I < Arguments.size(); ++I) {
    const std::string Word = AsciiLower(Arguments[I]);
    if (Word.size() < 2 || (Word[0] != '/' && Word[0] != '-')) break;
    const std::string Name = Word.substr(1);
    if (Name == "pa") continue;
    if (Name == "q") Options.Quiet = true;
    else if (Name == "v") Options.Verbose = true;
    else if (Name == "?") Options.Help = true;
    else if (Name == "trust" && I + 1 < Arguments.size()) Options.Trust = Arguments[++I];
    else if (Name == "trust") {
      Error = "Missing parameter after option: " + Arguments[I];
      return false;
    } else if (Arguments[I].find_first_of("/.", 1) == std::string::npos) {
      Error = "Invalid option: " + Arguments[I];
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
    const TVerifyResult Result = VerifySignature(File, Options.Trust);
    if (Options.Verbose) {
      std::printf("Verifying: %s\n", File.c_str());
      if (!Result.Signer.empty()) std::printf("Signer: %s\n", Result.Signer.c_str());
      std::printf("Timestamp: %s\n", Result.TimeStamp.empty() ? "none" : Result.TimeStamp.c_str());
      if (!Result.Message.empty()) std::printf("Verdict: %s\n", Result.Message.c_str());
    }
    const std::string Problem = ProblemOf(Result.State);
    if (!Problem.empty()) {
      ++Errors;
      PrintError(Problem + " " + File);
      continue;
    }
    ++Verified;
    if (!Options.Quiet) std::printf("Successfully verified: %s\n", File.c_str());
    if (Result.State == vsValidNoTimestamp) {
      ++Warnings;
      PrintWarning("The signature is valid, but it carries no timestamp and ends with the certificate: " + File);
    }
  }
  if (Options.Verbose)
    std::printf("\nNumber of files successfully Verified: %d\nNumber of warnings: %d\nNumber of errors: %d\n",
                Verified, Warnings, Errors);
  return ExitCodeOf(Errors, Warnings);
}
