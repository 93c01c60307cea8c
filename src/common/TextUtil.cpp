#include "common/TextUtil.h"

namespace {
char FoldAscii(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }
bool IsBlank(char C) { return static_cast<unsigned char>(C) <= 32; }
bool IsUtf8Continuation(char C) { return (static_cast<unsigned char>(C) & 0xC0) == 0x80; }
}  // namespace

std::string Trim(std::string_view Text) {
  std::size_t First = 0;
  std::size_t Last = Text.size();
  while (First < Last && IsBlank(Text[First])) ++First;
  while (Last > First && IsBlank(Text[Last - 1])) --Last;
  return std::string(Text.substr(First, Last - First));
}

std::string AsciiLower(std::string_view Text) {
  std::string Result(Text);
  for (char& C : Result) C = FoldAscii(C);
  return Result;
}

bool SameTextAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (std::size_t I = 0; I < A.size(); ++I)
    if (FoldAscii(A[I]) != FoldAscii(B[I])) return false;
  return true;
}

bool StartsWithAscii(std::string_view Text, std::string_view Prefix) {
  return Text.size() >= Prefix.size() && SameTextAscii(Text.substr(0, Prefix.size()), Prefix);
}

bool EndsWithAscii(std::string_view Text, std::string_view Suffix) {
  return Text.size() >= Suffix.size() && SameTextAscii(Text.substr(Text.size() - Suffix.size()), Suffix);
}

std::string FolderOf(const std::string& Path) {
  const std::size_t Slash = Path.rfind('/');
  if (Slash == std::string::npos) return ".";
  return Slash == 0 ? "/" : Path.substr(0, Slash);
}

std::string_view CutUtf8(std::string_view Text, std::size_t MaxBytes) {
  if (Text.size() <= MaxBytes) return Text;
  std::size_t End = MaxBytes;
  // Step back over continuation bytes to the start of the character that would be split.
  while (End > 0 && IsUtf8Continuation(Text[End])) --End;
  return Text.substr(0, End);
}

std::string PercentEncode(std::string_view Text, std::string_view Kept) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string Encoded;
  for (const char Character : Text) {
    const auto Byte = static_cast<unsigned char>(Character);
    const bool Literal = (Byte >= 'A' && Byte <= 'Z') || (Byte >= 'a' && Byte <= 'z') || (Byte >= '0' && Byte <= '9') ||
                         Character == '-' || Character == '.' || Character == '_' || Character == '~' ||
                         Kept.find(Character) != std::string_view::npos;
    if (Literal) {
      Encoded += Character;
    } else {
      Encoded += '%';
      Encoded += Hex[Byte >> 4];
      Encoded += Hex[Byte & 15];
    }
  }
  return Encoded;
}
