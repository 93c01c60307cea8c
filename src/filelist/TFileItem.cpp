#include "filelist/TFileItem.h"

#include <cstring>

#include "common/TextUtil.h"

std::string ToString(const TShortString& Value) { return std::string(Value.Chars, Value.Length); }

void Assign(TShortString& Target, std::string_view Text) {
  const std::string_view Cut = CutUtf8(Text, sizeof Target.Chars);
  Target.Length = static_cast<std::uint8_t>(Cut.size());
  std::memcpy(Target.Chars, Cut.data(), Cut.size());
}
