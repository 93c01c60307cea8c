#include "filelist/DropIntake.h"

#include <array>

#include "common/TextUtil.h"
#include "common/uPubFunc.h"
#include "filelist/TFileListModel.h"

namespace {
constexpr std::array<std::string_view, 4> ListableExtensions = {".exe", ".dll", ".sys", ".cab"};

bool IsNameBoundary(char C) { return C == '/' || C == '\\' || C == ':'; }
}  // namespace

std::string LowerExtension(std::string_view Name) {
  for (std::size_t Pos = Name.size(); Pos > 0; --Pos) {
    const char C = Name[Pos - 1];
    if (IsNameBoundary(C)) break;
    if (C == '.') return AsciiLower(Name.substr(Pos - 1));
  }
  return {};
}

std::optional<std::string> ListableName(const std::string& Name) {
  std::string Listed = Name;
  std::string Extension = LowerExtension(Listed);
  if (IsShortcut(Extension)) {
    Listed = ResolveShortcut(Listed);
    Extension = LowerExtension(Listed);
  }
  for (const std::string_view Listable : ListableExtensions)
    if (Extension == Listable) return Listed;
  return std::nullopt;
}

int AppendDroppedNames(const std::vector<std::string>& Names, TFileListModel& Files) {
  int Added = 0;
  for (const std::string& Name : Names) {
    const auto Listed = ListableName(Name);
    if (!Listed || Files.ContainsFileName(*Listed)) continue;
    Files.Append(*Listed);
    ++Added;
  }
  return Added;
}
