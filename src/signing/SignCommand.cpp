#include "signing/SignCommand.h"

#include <QCoreApplication>

#include <filesystem>

#include "cloud/CloudKeyAddress.h"
#include "common/Pkcs11Uri.h"
#include "common/TextUtil.h"
#include "common/WindowsCommandLine.h"

std::string SignCommandLine(const TSignSettings& Settings, std::string_view ShortPath, std::string_view ReportPath) {
  const std::string Certificate = Trim(Settings.CertFile);
  const bool ByKey = IsPkcs11Uri(Certificate) || IsCloudKeyAddress(Certificate);
  std::string Line = ByKey ? "signtool.exe sign /q /kc " : "signtool.exe sign /q /f ";
  Line += QuoteArgument(Certificate);
  Line += Settings.Rfc3161 ? " /tr \"" : " /t \"";
  Line += EscapeInsideQuotes(Settings.TimeStamp);
  Line += Settings.Rfc3161 ? "\" /td sha256 /d \"" : "\" /d \"";
  Line += EscapeInsideQuotes(Settings.Description);
  if (!Trim(Settings.Url).empty()) {
    Line += "\" /du \"";
    Line += EscapeInsideQuotes(Settings.Url);
  }
  Line += "\" ";
  if (!ReportPath.empty()) {
    Line += "/report \"";
    Line += EscapeInsideQuotes(ReportPath);
    Line += "\" ";
  }
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

TSignOutcome MissingFileOutcome(const std::string& FileName) {
  const QString Text = QCoreApplication::translate("SignCommand", "找不到文件：%1").arg(QString::fromStdString(FileName));
  return {fsFailed, Text.toStdString(), false};
}

TSignOutcome ClassifySignRun(bool Clean, const std::string& ErrorText) {
  if (Clean) return {fsOk, {}, true};
  if (StartsWithAscii(ErrorText, "SignTool Warning")) return {fsWarning, ErrorText, true};
  return {fsFailed, ErrorText, false, PinRefusalReported(ErrorText)};
}

TReportEntry UnreportedEntry(const std::string& FileName, const TSignOutcome& Outcome) {
  const char* Result = Outcome.Status == fsOk ? "signed" : Outcome.Status == fsWarning ? "warning" : "failed";
  return {FileName, {}, {}, Result, Outcome.Info, {}, {}, 0, {}};
}
