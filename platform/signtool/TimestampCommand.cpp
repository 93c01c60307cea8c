#include "TimestampCommand.h"


#include <cstdio>
#include <optional>

#include "CommandOutput.h"
#include "FileArguments.h"
#include "FileSigner.h"
#include "Interruption.h"
#include "SignOptions.h"
#include "TimestampSettings.h"

namespace {
constexpr char Usage[] =
    "Usage: signtool timestamp [options] <filename(s)>\n"
    "\n"
    "Use the \"timestamp\" command to add a timestamp to signed files that have none, without\n"
    "signing them again. Only the primary signature is timestamped; nested signatures stay as they\n"
    "are. A file that already has a timestamp is left as it is and counts as a success.\n"
    "\n"
    "Options:\n"
    "/t <URL>   Specify the timestamp server's URL. Several, separated by blanks or ';', are\n"
    "           tried in turn; a server that fails is asked last for the rest of the run.\n"
    "/tr <URL>  Specifies the RFC 3161 timestamp server's URL (several as with /t).\n"
    "/td <alg>  Used with the /tr switch to request a digest algorithm used by the RFC 3161\n"
    "           timestamp server: SHA1, SHA256 (the default), SHA384, SHA512.\n"
    "/q         No output on success and minimal output on failure.\n"
    "/v         Print verbose success and status messages.\n"
    "\n"
    "Environment:\n"
    "QUILLORY_TIMESTAMP_RETRY_WAIT  Milliseconds between rounds of timestamp tries (10000).\n"
    "http_proxy, https_proxy, no_proxy  The proxy for the timestamp servers.\n";

int TimestampFiles(const TSignOptions& Options) {
  const TFileArguments Expanded = ExpandFileArguments(Options.Files);
  if (!Expanded.Error.empty()) {
    PrintError(Expanded.Error);
    return ExitFailure;
  }
  std::optional<TTimestampBatch> TimestampBatch;
  if (!OpenTimestampBatch(TimestampServersOf(Options), TimestampBatch)) return ExitFailure;
  const TTimestampClient Timestamps(TimestampSettingsOf(Options), TimestampBatch->Order, TimestampBatch->Pace);
  int Stamped = 0, Errors = 0;
  for (const std::string& File : Expanded.Files) {
    ThrowIfInterrupted();
    const TSignResult Result = TimestampFile(File, Timestamps);
    if (Options.Verbose) PrintTimestampFailures(Result.TimestampFailures);
    switch (Result.Outcome) {
      case TSignOutcome::Signed:
        ++Stamped;
        if (!Options.Quiet) PrintLine(TMessage::Timestamped, {File});
        break;
      case TSignOutcome::AlreadyTimestamped:
        ++Stamped;
        if (!Options.Quiet) PrintLine(TMessage::AlreadyTimestamped, {File});
        break;
      case TSignOutcome::SignedWithoutTimestamp:
        ++Errors;
        PrintError(Say(TMessage::TimestampFailed, {File}));
        break;
      case TSignOutcome::Failed:
        ++Errors;
        PrintError(Result.Reason);
        PrintError(Say(TMessage::TimestampFailed, {File}));
        break;
    }
    std::fflush(stdout);
  }
  if (Options.Verbose)
    PrintCounts({{TMessage::TimestampedCount, Stamped}, {TMessage::ErrorCount, Errors}});
  return ExitCodeOf(Errors, 0);
}
}  // namespace

int RunTimestamp(const std::vector<std::string>& Arguments) {
  const TParseResult Parsed = ParseTimestampCommand(Arguments);
  if (!Parsed.Options) {
    PrintError(Parsed.Error);
    return ExitFailure;
  }
  if (Parsed.Options->ShowHelp) {
    std::fputs(Usage, stdout);
    return ExitSuccess;
  }
  return RunInterruptibly([&] { return TimestampFiles(*Parsed.Options); });
}
