#include <array>

#include "common/MessageBox.h"
#include "common/uPubFunc.h"

namespace {
const std::array<const char*, 4> PromptTitles = {"提示", "询问", "警告", "错误"};
const std::array<unsigned, 4> PromptStyles = {0x40, 0x24, 0x30, 0x10};
}  // namespace

int ShowPrompt(const std::string& Text, const std::string& Caption, TPromptKind Kind) {
  const auto Index = static_cast<std::size_t>(Kind) < PromptTitles.size() ? Kind : pkInfo;
  return ShowMessageBox({Caption.empty() ? PromptTitles[Index] : Caption, Text, PromptStyles[Index]});
}
