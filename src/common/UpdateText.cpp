#include "common/UpdateText.h"

#include <vector>

#include "common/TextUtil.h"

namespace {
std::vector<std::string_view> SplitLines(std::string_view Text) {
  std::vector<std::string_view> Lines;
  while (!Text.empty()) {
    const std::size_t End = Text.find('\n');
    std::string_view Line = Text.substr(0, End);
    if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
    Lines.push_back(Line);
    if (End == std::string_view::npos) break;
    Text.remove_prefix(End + 1);
  }
  return Lines;
}

std::optional<unsigned> ParseNumber(std::string_view Digits) {
  if (Digits.empty() || Digits.size() > 5) return std::nullopt;
  unsigned Value = 0;
  for (const char C : Digits) {
    if (C < '0' || C > '9') return std::nullopt;
    Value = Value * 10 + static_cast<unsigned>(C - '0');
  }
  if (Value > 65535) return std::nullopt;
  return Value;
}
}  // namespace

std::optional<TVersion> ParseVersion(std::string_view Text) {
  TVersion Version{};
  std::size_t Part = 0;
  while (true) {
    if (Part == Version.size()) return std::nullopt;
    const std::size_t Dot = Text.find('.');
    const auto Number = ParseNumber(Text.substr(0, Dot));
    if (!Number) return std::nullopt;
    Version[Part++] = *Number;
    if (Dot == std::string_view::npos) return Version;
    Text.remove_prefix(Dot + 1);
  }
}

std::optional<TUpdateInfo> ParseUpdateText(std::string_view Text) {
  if (Text.size() > MaxUpdateTextBytes) return std::nullopt;
  if (Text.substr(0, 3) == "\xEF\xBB\xBF") Text.remove_prefix(3);
  const std::vector<std::string_view> Lines = SplitLines(Text);
  if (Lines.size() < 2) return std::nullopt;

  TUpdateInfo Info;
  const auto Version = ParseVersion(Trim(Lines[0]));
  if (!Version) return std::nullopt;
  Info.Version = *Version;
  Info.DownloadUrl = Trim(Lines[1]);
  if (Info.DownloadUrl.empty()) return std::nullopt;

  std::string Notes;
  for (std::size_t I = 2; I < Lines.size(); ++I) {
    if (I > 2) Notes += '\n';
    Notes += Lines[I];
  }
  Info.Notes = std::string(CutUtf8(Trim(Notes), MaxUpdateNotesBytes));
  return Info;
}

std::string VersionText(const TVersion& Version) {
  std::string Text;
  for (std::size_t I = 0; I < Version.size(); ++I) {
    if (I > 0) Text += '.';
    Text += std::to_string(Version[I]);
  }
  return Text;
}
