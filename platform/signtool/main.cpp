// signtool.exe: signs program files with an Authenticode signature (with a PFX and no time-stamp
// server in this process, otherwise through osslsigncode) and reports in the manner of
// Microsoft's signtool, so that Quillory can run it per file.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FileSigner.h"
#include "Interruption.h"
#include "RunLimit.h"
#include "SignOptions.h"
#include "common/TextUtil.h"

namespace {
constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;
constexpr int ExitWarning = 2;

constexpr char Usage[] =
    "Usage: signtool <command> [options]\n"
    "\n"
    "\tValid commands:\n"
    "\t\tsign       --  Sign files using an embedded signature.\n"
    "\n"
    "For help on a specific command, enter \"signtool <command> /?\"\n";

constexpr char SignUsage[] =
    "Usage: signtool sign [options] <filename(s)>\n"
    "\n"
    "Use the \"sign\" command to sign files using embedded signatures.\n"
    "\n"
    "Certificate selection options:\n"
    "/f <file>   Specify the signing certificate in a file (PFX; with /kc DER or PEM).\n"
    "/p <pass.>  Specify a password to use when opening a PFX file, or the token's PIN.\n"
    "/kc <key>   Specify the private key on a PKCS#11 token: a pkcs11: URI or the key's label.\n"
    "/csp <so>   Specify the PKCS#11 module (default: every module registered with p11-kit).\n"
    "/sha1 <h>   Specify the SHA1 thumbprint of the signing certificate on a token.\n"
    "/n <name>   Specify the Subject Name of the signing certificate on a token.\n"
    "/ac <file>  Add an additional certificate from <file> to the signature block.\n"
    "\n"
    "Signing parameter options:\n"
    "/fd        Specifies the file digest algorithm: SHA1, SHA256 (the default), SHA384, SHA512.\n"
    "/as        Append this signature. If no primary signature is present, this signature is made\n"
    "           the primary signature instead.\n"
    "/d <desc.> Provide a description of the signed content.\n"
    "/du <URL>  Provide a URL with more information about the signed content.\n"
    "/t <URL>   Specify the timestamp server's URL.\n"
    "/tr <URL>  Specifies the RFC 3161 timestamp server's URL.\n"
    "/td <alg>  Used with the /tr switch to request a digest algorithm used by the RFC 3161\n"
    "           timestamp server.\n"
    "\n"
    "Other options:\n"
    "/q         No output on success and minimal output on failure.\n"
    "/v         Print verbose success and status messages.\n";

bool IsHelp(const std::string& Word) { return Word == "/?" || Word == "-?"; }

void Error(const std::string& Text) { std::fprintf(stderr, "SignTool Error: %s\n", Text.c_str()); }

// A PFX that is no regular file (a named pipe, a device) could keep its reader waiting for ever.
bool PfxIsRegularOrMissing(const std::string& Path) {
  struct stat Info {};
  return ::stat(Path.c_str(), &Info) != 0 || S_ISREG(Info.st_mode);
}

int SignFiles(const TSignOptions& Options) {
  if (!PfxIsRegularOrMissing(Options.FilePath)) {
    Error(std::string(Options.KeyContainer.empty() ? "The specified PFX file" : "The specified certificate file") +
          " is not a regular file: " + Options.FilePath);
    return ExitFailure;
  }
  const TTokenKeyChoice Choice = ChooseTokenKey(Options);
  if (!Choice.Error.empty()) {
    Error(Choice.Error);
    return ExitFailure;
  }
  const TFileSigner Signer(Options, Choice.Key, std::chrono::steady_clock::now() + WholeRunTimeLimit);
  int Signed = 0, Warnings = 0, Errors = 0;
  for (const std::string& File : Options.Files) {
    ThrowIfInterrupted();
    const TSignResult Result = Signer.Sign(File);
    switch (Result.Outcome) {
      case TSignOutcome::Signed:
      case TSignOutcome::SignedWithoutTimestamp:
        ++Signed;
        if (!Options.Quiet) std::printf("Successfully signed: %s\n", File.c_str());
        if (Result.Outcome == TSignOutcome::SignedWithoutTimestamp) {
          ++Warnings;
          std::fprintf(stderr,
                       "SignTool Warning: Signing succeeded, but an error occurred while attempting to "
                       "timestamp: %s\n",
                       File.c_str());
        }
        break;
      case TSignOutcome::Failed:
        ++Errors;
        Error(Result.Reason);
        Error("An error occurred while attempting to sign: " + File);
        break;
      case TSignOutcome::CertificateUnusable:
        Error(Result.Reason);
        Errors += static_cast<int>(Options.Files.size()) - Signed;
        if (Options.Verbose) std::printf("\nNumber of errors: %d\n", Errors);
        return ExitFailure;
    }
  }
  if (Options.Verbose)
    std::printf("\nNumber of files successfully Signed: %d\nNumber of warnings: %d\nNumber of errors: %d\n",
                Signed, Warnings, Errors);
  if (Errors > 0) return ExitFailure;
  return Warnings > 0 ? ExitWarning : ExitSuccess;
}
}  // namespace

int main(int Argc, char** Argv) {
  const std::vector<std::string> Arguments(Argv + 1, Argv + Argc);
  if (Arguments.empty()) {
    Error("A required parameter is missing.");
    std::fputs(Usage, stderr);
    return ExitFailure;
  }
  if (IsHelp(Arguments[0])) {
    std::fputs(Usage, stdout);
    return ExitSuccess;
  }
  if (AsciiLower(Arguments[0]) != "sign") {
    Error("Invalid command: " + Arguments[0]);
    return ExitFailure;
  }

  const TParseResult Parsed =
      ParseSignCommand(std::vector<std::string>(Arguments.begin() + 1, Arguments.end()), 2);
  // The password is in our copy now; take it out of the argument memory the process list shows.
  for (std::size_t Index : Parsed.PasswordIndexes) std::memset(Argv[Index], 0, std::strlen(Argv[Index]));
  if (!Parsed.Options) {
    Error(Parsed.Error);
    return ExitFailure;
  }
  if (Parsed.Options->ShowHelp) {
    std::fputs(SignUsage, stdout);
    return ExitSuccess;
  }
  // A reader of our output that has gone must not end this program before it has cleaned up.
  ::signal(SIGPIPE, SIG_IGN);
  HoldBackInterruptions();
  try {
    return SignFiles(*Parsed.Options);
  } catch (const TInterrupted& Interrupted) {
    EndBy(Interrupted.Signal);
  }
}
