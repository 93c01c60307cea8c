#include "ui/ErrorReport.h"

#include <QCoreApplication>

#include "ui/MessageBox.h"
#include "common/TextUtil.h"

std::string ProgramTitle(std::string_view ProgramPath) {
  const auto Slash = ProgramPath.find_last_of('/');
  std::string_view Name = Slash == std::string_view::npos ? ProgramPath : ProgramPath.substr(Slash + 1);
  Name = Name.substr(0, Name.find('.'));
  if (Name.empty()) return {};
  return std::string(1, Name[0]) + AsciiLower(Name.substr(1));
}

std::string ErrorReportText(std::string_view Message) {
  std::string Text(Message);
  if (!Text.empty() && static_cast<unsigned char>(Text.back()) > '.') Text += '.';
  return Text;
}

void ShowErrorReport(std::string_view Message) {
  const QString Program = QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
  ShowMessageBox({ProgramTitle(Program.toStdString()), ErrorReportText(Message), mbIconError});
}
