#include "signing/TimestampCommand.h"

#include "common/MessageCatalogue.h"
#include "common/TextUtil.h"
#include "common/WindowsCommandLine.h"

namespace {
// Whether Text begins with Prefix followed by Message (whose one argument is the file) in either
// language signtool.exe speaks.
bool BeginsWith(std::string_view Text, std::string_view Prefix, TMessage Message) {
  for (const TMessageLanguage Language : {TMessageLanguage::English, TMessageLanguage::Chinese})
    if (StartsWithAscii(Text, std::string(Prefix) + MessageText(Message, Language, {""}))) return true;
  return false;
}

// How signtool begins the texts of a file signed without a timestamp.
bool SigningWarning(std::string_view Text) {
  return BeginsWith(Text, "SignTool Warning: ", TMessage::SignedWithoutTimestamp);
}
bool TimestampError(std::string_view Text) { return BeginsWith(Text, "SignTool Error: ", TMessage::TimestampFailed); }
}  // namespace

bool SignedWithoutTimestamp(TFileStatus Status, std::string_view Info) {
  return Status == fsWarning && (SigningWarning(Info) || TimestampError(Info));
}

std::string TimestampCommandLine(const std::string& TimeStamp, bool Rfc3161, std::string_view ShortPath) {
  return std::string("signtool.exe timestamp /q ") + (Rfc3161 ? "/tr \"" : "/t \"") + EscapeInsideQuotes(TimeStamp) +
         (Rfc3161 ? "\" /td sha256 " : "\" ") + QuoteArgument(ShortPath);
}

TSignOutcome ClassifyTimestampRun(bool Clean, const std::string& ErrorText) {
  if (Clean) return {fsOk, {}, true};
  if (TimestampError(ErrorText)) return {fsWarning, ErrorText, false};
  return {fsFailed, ErrorText, false};
}
