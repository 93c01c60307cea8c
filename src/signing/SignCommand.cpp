#include "signing/SignCommand.h"

#include <filesystem>

#include "common/TextUtil.h"
#include "common/WindowsCommandLine.h"

namespace {
// Value escaped to stand between two double quotes of the command line: a quote becomes \",
// and backslashes are doubled where they precede a quote, including the closing one.
std::string EscapeInsideQuotes(std::string_view Value) {
  std::string Result;
  std::size_t Backslashes = 0;
  for (char C : Value) {
    if (C == '\\') {
      ++Backslashes;
      continue;
    }
    Result.append(C == '"' ? 2 * Backslashes + 1 : Backslashes, '\\');
    Backslashes = 0;
    Result += C;
  }
  Result.append(2 * Backslashes, '\\');
  return Result;
}
}  // namespace

std::string SignCommandLine(const TSignSettings& Settings, std::string_view ShortPath) {
  std::string Line = "signtool.exe sign /q /f ";
  Line += QuoteArgument(Trim(Settings.CertFile));
  Line += " /p ";
  Line += QuoteArgument(Settings.Password);
  Line += " /t \"";
  Line += EscapeInsideQuotes(Settings.TimeStamp);
  Line += "\" /d \"";
  Line += EscapeInsideQuotes(Settings.Description);
  Line += "\" ";
  if (!ShortPath.empty()) Line += QuoteArgument(ShortPath);
  return Line;
}

std::string ShortPathOf(std::string_view FileName) {
  std::error_code Error;
  const std::filesystem::path Path(FileName);
  if (FileName.empty() || !std::filesystem::exists(Path, Error)) return {};
  const std::filesystem::path Absolute = std::filesystem::absolute(Path, Error);
  return Error ? std::string() : Absolute.lexically_normal().string();
}

TSignOutcome ClassifySignRun(bool Clean, const std::string& ErrorText) {
  if (Clean) return {fsOk, {}, true};
  if (StartsWithAscii(ErrorText, "SignTool Warning")) return {fsWarning, ErrorText, true};
  return {fsFailed, ErrorText, false};
}
