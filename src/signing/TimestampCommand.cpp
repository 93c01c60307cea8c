#include "signing/TimestampCommand.h"

#include "common/TextUtil.h"
#include "common/WindowsCommandLine.h"

namespace {
// How signtool begins the texts of a file signed without a timestamp.
constexpr std::string_view SigningWarning =
    "SignTool Warning: Signing succeeded, but an error occurred while attempting to timestamp";
constexpr std::string_view TimestampError = "SignTool Error: An error occurred while attempting to timestamp";
}  // namespace

bool SignedWithoutTimestamp(TFileStatus Status, std::string_view Info) {
  return Status == fsWarning && (StartsWithAscii(Info, SigningWarning) || StartsWithAscii(Info, TimestampError));
}

std::string TimestampCommandLine(const std::string& TimeStamp, bool Rfc3161, std::string_view ShortPath) {
  return std::string("signtool.exe timestamp /q ") + (Rfc3161 ? "/tr \"" : "/t \"") + EscapeInsideQuotes(TimeStamp) +
         (Rfc3161 ? "\" /td sha256 " : "\" ") + QuoteArgument(ShortPath);
}

TSignOutcome ClassifyTimestampRun(bool Clean, const std::string& ErrorText) {
  if (Clean) return {fsOk, {}, true};
  if (StartsWithAscii(ErrorText, TimestampError)) return {fsWarning, ErrorText, false};
  return {fsFailed, ErrorText, false};
}
