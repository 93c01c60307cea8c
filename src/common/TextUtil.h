#pragma once
// Text helpers with the program's rules: trimming drops characters with codes up to 32,
// case-insensitive comparison folds only ASCII letters.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

std::string Trim(std::string_view Text);
std::string AsciiLower(std::string_view Text);
// Equal ignoring the case of A-Z; texts of different lengths are never equal.
bool SameTextAscii(std::string_view A, std::string_view B);
// Starts with Prefix, ignoring the case of A-Z.
bool StartsWithAscii(std::string_view Text, std::string_view Prefix);
// Ends with Suffix, ignoring the case of A-Z.
bool EndsWithAscii(std::string_view Text, std::string_view Suffix);
// The folder part of a path: "." when it has none, "/" for a file in the root folder.
std::string FolderOf(const std::string& Path);
// Every byte of Text but the unreserved ones (letters, digits, "-._~") and those in Kept as %XX in
// upper-case hex, as URIs and forms carry text.
std::string PercentEncode(std::string_view Text, std::string_view Kept = {});
// Every %XX of Text as the byte it stands for. A "%" not followed by two hex digits makes the whole
// text refused (nullopt) or, with TStrayPercent::Kept, stays as it is.
enum class TStrayPercent { Refused, Kept };
std::optional<std::string> PercentDecode(std::string_view Text, TStrayPercent StrayPercent = TStrayPercent::Refused);
// The value of a hex digit of either case, or -1 for any other character.
int HexValue(char Digit);
// Bytes as lower-case hex, as digests and thumbprints are shown.
std::string LowerHex(const unsigned char* Bytes, std::size_t Size);
// The longest prefix of Text of at most MaxBytes bytes that does not split a UTF-8 character.
std::string_view CutUtf8(std::string_view Text, std::size_t MaxBytes);
