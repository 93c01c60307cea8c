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

std::optional<std::string> PercentDecode(std::string_view Text, TStrayPercent StrayPercent) {
  std::string Decoded;
  for (std::size_t Index = 0; Index < Text.size(); ++Index) {
    const bool Escape = Text[Index] == '%' && Index + 2 < Text.size() && HexValue(Text[Index + 1]) >= 0 &&
                        HexValue(Text[Index + 2]) >= 0;
    if (Escape) {
      Decoded += static_cast<char>(HexValue(Text[Index + 1]) * 16 + HexValue(Text[Index + 2]));
      Index += 2;
    } else if (Text[Index] == '%' && StrayPercent == TStrayPercent::Refused) {
      return std::nullopt;
    } else {
      Decoded += Text[Index];
    }
  }
  return Decoded;
}

int HexValue(char Digit) {
  if (Digit >= '0' && Digit <= '9') return Digit - '0';
  if (Digit >= 'a' && Digit <= 'f') return Digit - 'a' + 10;
  if (Digit >= 'A' && Digit <= 'F') return Digit - 'A' + 10;
  return -1;
}

std::string LowerHex(const unsigned char* Bytes, std::size_t Size) {
  static constexpr char Digits[] = "0123456789abcdef";
  std::string Text;
  Text.reserve(Size * 2);
  for (std::size_t Index = 0; Index < Size; ++Index) {
    Text += Digits[Bytes[Index] >> 4];
    Text += Digits[Bytes[Index] & 0x0F];
  }
  return Text;
}
