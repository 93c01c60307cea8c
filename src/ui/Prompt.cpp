#include <QCoreApplication>
#include <array>

#include "ui/MessageBox.h"
#include "common/uPubFunc.h"

namespace {
const std::array<const char*, 4> PromptTitles = {QT_TRANSLATE_NOOP("ShowPrompt", "提示"), QT_TRANSLATE_NOOP("ShowPrompt", "询问"),
                                                 QT_TRANSLATE_NOOP("ShowPrompt", "警告"), QT_TRANSLATE_NOOP("ShowPrompt", "错误")};
const std::array<unsigned, 4> PromptStyles = {0x40, 0x24, 0x30, 0x10};
}  // namespace

int ShowPrompt(const std::string& Text, const std::string& Caption, TPromptKind Kind) {
  const auto Index = static_cast<std::size_t>(Kind) < PromptTitles.size() ? Kind : pkInfo;
  const std::string Title =
      Caption.empty() ? QCoreApplication::translate("ShowPrompt", PromptTitles[Index]).toStdString() : Caption;
  return ShowMessageBox({Title, Text, PromptStyles[Index]});
}
