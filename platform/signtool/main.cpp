// signtool.exe: signs program files with an Authenticode signature, in this process, with one key
// session for all the files of a run, and reports in the manner of Microsoft's signtool, so that
// Quillory can run it per file.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <cstring>
#include <string>
#include <vector>

#include "FileSigner.h"
#include "Interruption.h"
#include "PasswordSource.h"
#include "RunKey.h"
#include "RunLimit.h"
#include "SignOptions.h"
#include "authenticode/TimestampServerList.h"
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
    "/p <pass.>  Specify a password to use when opening a PFX file, or the token's PIN. Other\n"
    "            users may read a command line: prefer /penv or /pfd.\n"
    "/penv <var> Read the password or PIN from the environment variable <var>.\n"
    "/pfd <n>    Read the password or PIN from file descriptor <n> (0: standard input), up to\n"
    "            the first line break.\n"
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
    "/t <URL>   Specify the timestamp server's URL. Several, separated by blanks or ';', are\n"
    "           tried in turn; a server that fails is asked last for the rest of the run.\n"
    "/tr <URL>  Specifies the RFC 3161 timestamp server's URL (several as with /t).\n"
    "/td <alg>  Used with the /tr switch to request a digest algorithm used by the RFC 3161\n"
    "           timestamp server.\n"
    "\n"
    "Other options:\n"
    "/q         No output on success and minimal output on failure.\n"
    "/v         Print verbose success and status messages.\n"
    "\n"
    "Environment:\n"
    "SOURCE_DATE_EPOCH            The signing time, in seconds since 1970 (reproducible builds).\n"
    "QUILLORY_TIMESTAMP_RETRY_WAIT  Milliseconds between rounds of timestamp tries (10000).\n"
    "http_proxy, https_proxy, no_proxy  The proxy for the timestamp servers.\n";

bool IsHelp(const std::string& Word) { return Word == "/?" || Word == "-?"; }

void Error(const std::string& Text) { std::fprintf(stderr, "SignTool Error: %s\n", Text.c_str()); }

// A PFX that is no regular file (a named pipe, a device) could keep its reader waiting for ever.
bool PfxIsRegularOrMissing(const std::string& Path) {
  struct stat Info {};
  return ::stat(Path.c_str(), &Info) != 0 || S_ISREG(Info.st_mode);
}

// The timestamp settings of a run: the protocol by /t or /tr, and how long to wait between rounds.
TTimestampSettings TimestampSettingsOf(const TSignOptions& Options) {
  TTimestampSettings Settings;
  Settings.Protocol = Options.Rfc3161Url.empty() ? TTimestampProtocol::Authenticode : TTimestampProtocol::Rfc3161;
  Settings.Digest = EVP_get_digestbyname(Options.TimestampDigest.c_str());
  if (const char* Wait = std::getenv("QUILLORY_TIMESTAMP_RETRY_WAIT"); Wait && *Wait)
    Settings.RetryWait = std::chrono::milliseconds(std::strtoul(Wait, nullptr, 10));
  Settings.Interruption = InterruptionDescriptor();
  return Settings;
}

void PrintTimestampFailures(const std::vector<TTimestampFailure>& Failures) {
  for (const TTimestampFailure& Failure : Failures)
    std::printf("Timestamp server %s: %s\n", Failure.Server.c_str(), Failure.Problem.c_str());
}

int SignFiles(const TSignOptions& Options) {
  if (!PfxIsRegularOrMissing(Options.FilePath)) {
    Error(std::string(Options.KeyContainer.empty() ? "The specified PFX file" : "The specified certificate file") +
          " is not a regular file: " + Options.FilePath);
    return ExitFailure;
  }
  const TPassword Password = ReadPassword(Options);
  if (!Password.Error.empty()) {
    Error(Password.Error);
    return ExitFailure;
  }
  const TRunKey Key = OpenRunKey(Options, Password.Value, std::chrono::steady_clock::now() + WholeRunTimeLimit);
  if (!Key.Key) {
    Error(Key.Error);
    if (Options.Verbose) std::printf("\nNumber of errors: %zu\n", Options.Files.size());
    return ExitFailure;
  }
  const std::string Servers = Options.Rfc3161Url.empty() ? Options.AuthenticodeUrl : Options.Rfc3161Url;
  TTimestampServerOrder ServerOrder(ParseTimestampServers(Servers));
  THostPace Pace;
  std::optional<TTimestampClient> Timestamps;
  if (!Servers.empty()) Timestamps.emplace(TimestampSettingsOf(Options), ServerOrder, Pace);
  const TFileSigner Signer(Options, *Key.Key, Key.ExtraCertificates, Timestamps ? &*Timestamps : nullptr);
  int Signed = 0, Warnings = 0, Errors = 0;
  for (const std::string& File : Options.Files) {
    ThrowIfInterrupted();
    const TSignResult Result = Signer.Sign(File);
    switch (Result.Outcome) {
      case TSignOutcome::Signed:
      case TSignOutcome::SignedWithoutTimestamp:
        ++Signed;
        if (Options.Verbose) PrintTimestampFailures(Result.TimestampFailures);
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
