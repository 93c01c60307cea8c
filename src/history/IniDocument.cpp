#include "history/IniDocument.h"

#include <algorithm>

#include "common/TextUtil.h"

namespace {
constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char C) { return static_cast<unsigned char>(C) <= 32; }

std::string_view WithoutLeadingBlanks(std::string_view Text) {
  const auto First = std::find_if_not(Text.begin(), Text.end(), IsBlank);
  return Text.substr(static_cast<std::size_t>(First - Text.begin()));
}

// "[Name]", possibly indented and followed by anything.
std::optional<std::string> SectionHeaderName(std::string_view Line) {
  const std::string_view Text = WithoutLeadingBlanks(Line);
  if (Text.empty() || Text.front() != '[') return std::nullopt;
  const std::size_t Close = Text.find(']');
  if (Close == std::string_view::npos) return std::nullopt;
  return Trim(Text.substr(1, Close - 1));
}

// "name=value" with a name that is not empty and not a comment.
std::optional<std::string> KeyName(std::string_view Line) {
  const std::string_view Text = WithoutLeadingBlanks(Line);
  if (Text.empty() || Text.front() == ';' || Text.front() == '#') return std::nullopt;
  const std::size_t Equals = Text.find('=');
  if (Equals == std::string_view::npos) return std::nullopt;
  std::string Name = Trim(Text.substr(0, Equals));
  if (Name.empty()) return std::nullopt;
  return Name;
}

std::string OneLine(std::string_view Value) {
  std::string Result(Value);
  std::replace_if(Result.begin(), Result.end(), [](char C) { return C == '\r' || C == '\n' || C == '\0'; }, ' ');
  return Result;
}
}  // namespace

TIniDocument::TIniDocument(std::string_view Text) {
  if (Text.substr(0, Utf8ByteOrderMark.size()) == Utf8ByteOrderMark) {
    ByteOrderMark = Utf8ByteOrderMark;
    Text.remove_prefix(Utf8ByteOrderMark.size());
  }
  bool LineEndKnown = false;
  TSection* Current = nullptr;
  while (!Text.empty()) {
    const std::size_t Break = Text.find_first_of("\r\n");
    TLine Line;
    if (Break == std::string_view::npos) {
      Line.Text = Text;
      Text = {};
    } else {
      const bool CrLf = Text[Break] == '\r' && Text.substr(Break + 1, 1) == "\n";
      Line.Text = Text.substr(0, Break);
      Line.End = Text.substr(Break, CrLf ? 2 : 1);
      Text.remove_prefix(Break + Line.End.size());
      if (!LineEndKnown) LineEnd = Line.End;
      LineEndKnown = true;
    }
    const TLineIt It = Lines.insert(Lines.end(), std::move(Line));
    if (const auto Name = SectionHeaderName(It->Text)) {
      Current = &AddSection(*Name, It);
    } else if (Current != nullptr) {
      if (const auto Key = KeyName(It->Text)) AddKey(*Current, *Key, It);
    }
  }
}

TIniDocument::TSection& TIniDocument::AddSection(std::string_view Name, TLineIt Header) {
  TSection& Section = Sections[AsciiLower(Name)];
  Section.Last = Header;
  return Section;
}

void TIniDocument::AddKey(TSection& Section, std::string_view Name, TLineIt Line) {
  Section.Last = Line;
  auto [Found, Added] = Section.KeyByName.try_emplace(AsciiLower(Name));
  if (Added) Found->second = Section.Keys.insert(Section.Keys.end(), TKey{std::string(Name), {}});
  Found->second->Lines.push_back(Line);
}

TIniDocument::TLineIt TIniDocument::InsertAfter(TLineIt Position, std::string Text) {
  // The line before may be the file's last one, without a line end of its own.
  if (Position->End.empty()) Position->End = LineEnd;
  return Lines.insert(std::next(Position), TLine{std::move(Text), LineEnd});
}

std::string TIniDocument::Text() const {
  std::size_t Size = ByteOrderMark.size();
  for (const TLine& Line : Lines) Size += Line.Text.size() + Line.End.size();
  std::string Result;
  Result.reserve(Size);
  Result += ByteOrderMark;
  for (const TLine& Line : Lines) {
    if (Line.Removed) continue;
    Result += Line.Text;
    Result += Line.End;
  }
  return Result;
}

const TIniDocument::TSection* TIniDocument::FindSection(std::string_view Name) const {
  const auto Found = Sections.find(AsciiLower(Trim(Name)));
  return Found == Sections.end() ? nullptr : &Found->second;
}

const TIniDocument::TKey* TIniDocument::FindKey(const TSection& Section, std::string_view Name) const {
  const auto Found = Section.KeyByName.find(AsciiLower(Trim(Name)));
  return Found == Section.KeyByName.end() ? nullptr : &*Found->second;
}

std::vector<std::string> TIniDocument::Keys(std::string_view Section) const {
  std::vector<std::string> Result;
  if (const TSection* Found = FindSection(Section))
    for (const TKey& Key : Found->Keys) Result.push_back(Key.Name);
  return Result;
}

std::optional<std::string> TIniDocument::Value(std::string_view Section, std::string_view Key) const {
  const TSection* FoundSection = FindSection(Section);
  const TKey* Found = FoundSection ? FindKey(*FoundSection, Key) : nullptr;
  if (Found == nullptr) return std::nullopt;
  const std::string& Line = Found->Lines.front()->Text;
  return Line.substr(Line.find('=') + 1);
}

void TIniDocument::SetValue(std::string_view Section, std::string_view Key, std::string_view Value) {
  const std::string Name = Trim(Key);
  const auto FoundSection = Sections.find(AsciiLower(Trim(Section)));
  TSection* Target = FoundSection == Sections.end() ? nullptr : &FoundSection->second;
  if (Target != nullptr) {
    if (const TKey* Found = FindKey(*Target, Name)) {
      std::string& Line = Found->Lines.front()->Text;
      Line.erase(Line.find('=') + 1);
      Line += OneLine(Value);
      return;
    }
  } else {
    std::string HeaderText = "[";
    HeaderText += Trim(Section);
    HeaderText += ']';
    const TLineIt Header = Lines.empty() ? Lines.insert(Lines.end(), TLine{std::move(HeaderText), LineEnd})
                                         : InsertAfter(std::prev(Lines.end()), std::move(HeaderText));
    Target = &AddSection(Trim(Section), Header);
  }
  AddKey(*Target, Name, InsertAfter(Target->Last, Name + "=" + OneLine(Value)));
}

void TIniDocument::Delete(std::string_view Section, std::string_view Key) {
  const auto FoundSection = Sections.find(AsciiLower(Trim(Section)));
  if (FoundSection == Sections.end()) return;
  TSection& Target = FoundSection->second;
  const auto Found = Target.KeyByName.find(AsciiLower(Trim(Key)));
  if (Found == Target.KeyByName.end()) return;
  // Removed lines stay in the list, so that the section's insertion point remains valid.
  for (const TLineIt Line : Found->second->Lines) Line->Removed = true;
  Target.Keys.erase(Found->second);
  Target.KeyByName.erase(Found);
}
