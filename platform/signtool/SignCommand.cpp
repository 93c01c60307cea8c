#include "SignCommand.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <optional>

#include "AlreadySigned.h"
#include "CommandOutput.h"
#include "FileArguments.h"
#include "FileSigner.h"
#include "FileWorkers.h"
#include "Interruption.h"
#include "PasswordSource.h"
#include "RunKey.h"
#include "RunTurn.h"
#include "keys/RunLimit.h"
#include "SignOptions.h"
#include "SignReport.h"
#include "TimestampSettings.h"
#include "authenticode/HttpCall.h"

namespace {
constexpr char SignUsage[] =
    "Usage: signtool sign [options] <filename(s)>\n"
    "\n"
    "Use the \"sign\" command to sign files using embedded signatures.\n"
    "\n"
    "Certificate selection options:\n"
    "/f <file>   Specify the signing certificate in a file (PFX; with /kc DER or PEM).\n"
    "/p <pass.>  Specify a password to use when opening a PFX file, the token's PIN, or a key\n"
    "            service's access token. Other users may read a command line: prefer /penv or /pfd.\n"
    "/penv <var> Read the password or PIN from the environment variable <var>.\n"
    "/pfd <n>    Read the password or PIN from file descriptor <n> (0: standard input), up to\n"
    "            the first line break.\n"
    "/kc <key>   Specify the private key on a PKCS#11 token: a pkcs11: URI or the key's label;\n"
    "            or a key in a key service by its address (gcpkms://projects/.../cryptoKeyVersions/1,\n"
    "            keyvault://<vault>.vault.azure.net/<certificate>, awskms://<region>/<key>,\n"
    "            trustedsigning://<endpoint>/<account>/<profile>).\n"
    "/csp <so>   Specify the PKCS#11 module (default: every module registered with p11-kit), or the\n"
    "            key service (\"Google Cloud KMS\", \"Azure Key Vault\", \"AWS KMS\",\n"
    "            \"Azure Trusted Signing\"); /kc then needs no scheme.\n"
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
    "/mt <n>    Sign up to <n> files at once (1 to 64), with the one key. Unless given, files are\n"
    "           signed one at a time with /t or /tr, and a few at a time without.\n"
    "/lazy      Leave files that already carry an intact signature of this certificate (and,\n"
    "           with /t or /tr, a valid timestamp): a run that failed half-way can be repeated.\n"
    "/report <f> Write a JSON report of every file (SHA-256 before and after, result, message,\n"
    "           signer, thumbprint, timestamp and its server) to <f>.\n"
    "\n"
    "Environment:\n"
    "SOURCE_DATE_EPOCH            The signing time, in seconds since 1970 (reproducible builds).\n"
    "QUILLORY_TIMESTAMP_RETRY_WAIT  Milliseconds between rounds of timestamp tries (10000).\n"
    "QUILLORY_TIMESTAMP_INTERVAL    Least milliseconds between two requests to one server (0).\n"
    "QUILLORY_TIMESTAMP_PACE        A pace file shared with other runs (the window's batch).\n"
    "QUILLORY_REPORT_TRANSIENT      Set: the /report file is not flushed to disk, as its reader (the\n"
    "                               window) takes it as soon as the run ends.\n"
    "http_proxy, https_proxy, no_proxy  The proxy for the timestamp servers and key services.\n"
    "GOOGLE_OAUTH_ACCESS_TOKEN    Google Cloud KMS's access token when no /p, /penv or /pfd gives\n"
    "                             one; else gcloud auth print-access-token is asked.\n"
    "AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN  AWS KMS's credentials; else the\n"
    "                             profile AWS_PROFILE (default) in AWS_SHARED_CREDENTIALS_FILE or\n"
    "                             ~/.aws/credentials. AWS_ENDPOINT_URL_KMS replaces the endpoint.\n"
    "AZURE_ACCESS_TOKEN           Azure Key Vault's and Trusted Signing's access token when none is\n"
    "                             given; else the client credentials in AZURE_TENANT_ID, AZURE_CLIENT_ID\n"
    "                             and AZURE_CLIENT_SECRET (at AZURE_AUTHORITY_HOST), else\n"
    "                             az account get-access-token.\n"
    "QUILLORY_TRUSTEDSIGNING_WAIT Seconds one Trusted Signing signature may take (120).\n";

// A PFX that is no regular file (a named pipe, a device) could keep its reader waiting for ever.
bool PfxIsRegularOrMissing(const std::string& Path) {
  struct stat Info {};
  return ::stat(Path.c_str(), &Info) != 0 || S_ISREG(Info.st_mode);
}

// Without /mt, a run that asks no timestamp server signs a few files at once: its waits are then
// the disk's (each file is flushed before it takes the original's place), and flushes that overlap
// cost hardly more than one. With a server, files go one at a time, so that it sees one request
// at a time.
int FilesAtOnce(const TSignOptions& Options, bool Timestamping) {
  constexpr int OverlappedFlushes = 4;
  if (Options.Parallel > 0) return Options.Parallel;
  return Timestamping ? 1 : OverlappedFlushes;
}

int SignFiles(const TSignOptions& Options) {
  if (!PfxIsRegularOrMissing(Options.FilePath)) {
    PrintError(Say(Options.KeyContainer.empty() ? TMessage::PfxNotRegular : TMessage::CertificateFileNotRegular,
                   {Options.FilePath}));
    return ExitFailure;
  }
  const TFileArguments Expanded = ExpandFileArguments(Options.Files);
  if (!Expanded.Error.empty()) {
    PrintError(Expanded.Error);
    return ExitFailure;
  }
  const std::vector<std::string>& Files = Expanded.Files;
  const std::string Servers = TimestampServersOf(Options);
  if (Servers.empty() && KeyNeedsTimestamp(Options)) {
    PrintError(Say(TMessage::KeyNeedsTimestamp));
    return ExitFailure;
  }
  // The first request comes once the key is open and the first file signed: libcurl, which
  // takes longer to load than most of that, loads meanwhile on another core. In the window's
  // session, the window makes the requests.
  const std::future<void> HttpLoading =
      Servers.empty() || InKeySession() ? std::future<void>() : LoadHttpMeanwhile();
  const TPassword Password = ReadPassword(Options);
  if (!Password.Error.empty()) {
    PrintError(Password.Error);
    return ExitFailure;
  }
  const TRunKey Key = OpenRunKey(Options, Password.Value, std::chrono::steady_clock::now() + WholeRunTimeLimit);
  if (!Key.Key) {
    PrintError(Key.Error);
    if (Options.Verbose) std::printf("\n%s\n", Say(TMessage::ErrorCount, {std::to_string(Files.size())}).c_str());
    return ExitFailure;
  }
  std::optional<TTimestampBatch> TimestampBatch;
  std::optional<TTimestampClient> Timestamps;
  if (!Servers.empty()) {
    if (!OpenTimestampBatch(Servers, TimestampBatch)) return ExitFailure;
    TTimestampSettings Settings = TimestampSettingsOf(Options);
    Settings.Http = Key.Http;
    Timestamps.emplace(std::move(Settings), TimestampBatch->Order, TimestampBatch->Pace);
  }
  const TFileSigner Signer(Options, *Key.Key, Key.ExtraCertificates, Timestamps ? &*Timestamps : nullptr);
  int Signed = 0, Warnings = 0, Errors = 0;
  std::optional<TSignReport> Report;
  if (!Options.ReportPath.empty()) Report.emplace(Key.Key->Certificate());
  // Tellings run one at a time (see FileWorkers.h), so the counts need no lock.
  const auto Tell = [&](const std::string& File, const TSignResult& Result) {
    switch (Result.Outcome) {
      case TSignOutcome::Signed:
      case TSignOutcome::SignedWithoutTimestamp:
        ++Signed;
        if (Options.Verbose) PrintTimestampFailures(Result.TimestampFailures);
        if (!Options.Quiet) PrintLine(TMessage::Signed, {File});
        if (Result.Outcome == TSignOutcome::SignedWithoutTimestamp) {
          ++Warnings;
          PrintWarning(Say(TMessage::SignedWithoutTimestamp, {File}));
        }
        break;
      case TSignOutcome::AlreadyTimestamped:  // only when adding a timestamp
      case TSignOutcome::Failed:
        ++Errors;
        PrintError(Result.Reason);
        PrintError(Say(TMessage::SignFailed, {File}));
        break;
    }
    std::fflush(stdout);
  };
  const EVP_MD* Md = EVP_get_digestbyname(Options.Digest.c_str());
  ForEachFile(Files, FilesAtOnce(Options, Timestamps.has_value()), [&](const std::string& File) -> TFileTelling {
    std::string Before = Report ? FileSha256(File) : std::string();
    if (Options.Lazy && AlreadySigned(File, Key.Key->Certificate(), Md, Timestamps.has_value())) {
      return [&, File, Before = std::move(Before)] {
        ++Signed;
        if (!Options.Quiet) PrintLine(TMessage::AlreadySigned, {File});
        if (Report) Report->Add({File, Before, Before, "skipped", "Already signed with this certificate.", {}, {}, 0, {}});
      };
    }
    TSignResult Result = Signer.Sign(File);
    std::string After = Report ? FileSha256(File) : std::string();
    return [&, File, Before = std::move(Before), After = std::move(After), Result = std::move(Result)] {
      Tell(File, Result);
      if (!Report) return;
      const char* Outcome = Result.Outcome == TSignOutcome::Signed                   ? "signed"
                            : Result.Outcome == TSignOutcome::SignedWithoutTimestamp ? "warning"
                                                                                     : "failed";
      const std::string Message =
          Result.Outcome == TSignOutcome::SignedWithoutTimestamp
              ? "Signing succeeded, but an error occurred while attempting to timestamp."
              : Result.Reason;
      Report->Add({File, Before, After, Outcome, Message, {}, {}, Result.TimestampTime, Result.TimestampServer});
    };
  });
  if (Report)
    if (const std::string Problem = Report->Write(Options.ReportPath); !Problem.empty()) {
      PrintError(Problem);
      ++Errors;
    }
  if (Options.Verbose)
    PrintCounts({{TMessage::SignedCount, Signed}, {TMessage::WarningCount, Warnings}, {TMessage::ErrorCount, Errors}});
  return ExitCodeOf(Errors, Warnings);
}
}  // namespace

int RunSign(const std::vector<std::string>& Arguments, char** Argv, std::size_t FirstIndex) {
  const TParseResult Parsed = ParseSignCommand(Arguments, FirstIndex);
  // The password is in our copy now; take it out of the argument memory the process list shows.
  for (std::size_t Index : Parsed.PasswordIndexes) std::memset(Argv[Index], 0, std::strlen(Argv[Index]));
  if (!Parsed.Options) {
    PrintError(Parsed.Error);
    return ExitFailure;
  }
  if (Parsed.Options->ShowHelp) {
    std::fputs(SignUsage, stdout);
    return ExitSuccess;
  }
  return RunInterruptibly([&] { return AwaitTurn() ? SignFiles(*Parsed.Options) : ExitFailure; });
}
