#include "common/Pkcs11Uri.h"

#include <algorithm>

#include "common/TextUtil.h"

namespace {
constexpr std::string_view Scheme = "pkcs11:";
constexpr char Hex[] = "0123456789ABCDEF";

bool Unreserved(char C) {
  return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '-' || C == '.' ||
         C == '_' || C == '~';
}

// Characters other than the unreserved ones that may stand unencoded in a value.
std::string Encode(std::string_view Value, std::string_view AlsoAllowed, bool EveryByte) {
  std::string Result;
  for (char C : Value) {
    if (!EveryByte && (Unreserved(C) || AlsoAllowed.find(C) != std::string_view::npos)) {
      Result += C;
      continue;
    }
    const auto Byte = static_cast<unsigned char>(C);
    Result += '%';
    Result += Hex[Byte >> 4];
    Result += Hex[Byte & 0x0F];
  }
  return Result;
}

std::optional<TPkcs11Uri::TAttributes> ParseAttributes(std::string_view Text, char Separator) {
  TPkcs11Uri::TAttributes Result;
  while (!Text.empty()) {
    const std::size_t End = std::min(Text.find(Separator), Text.size());
    const std::string_view Item = Text.substr(0, End);
    Text.remove_prefix(std::min(End + 1, Text.size()));
    if (Item.empty()) continue;
    const std::size_t Equals = Item.find('=');
    if (Equals == std::string_view::npos || Equals == 0) return std::nullopt;
    std::optional<std::string> Value = PercentDecode(Item.substr(Equals + 1));
    if (!Value) return std::nullopt;
    Result.emplace_back(AsciiLower(Item.substr(0, Equals)), std::move(*Value));
  }
  return Result;
}

std::optional<std::string> Find(const TPkcs11Uri::TAttributes& Attributes, std::string_view Name) {
  for (const auto& [Key, Value] : Attributes)
    if (Key == Name) return Value;
  return std::nullopt;
}
}  // namespace

std::optional<std::string> TPkcs11Uri::Get(std::string_view Name) const { return Find(Path, Name); }

std::optional<std::string> TPkcs11Uri::GetQuery(std::string_view Name) const { return Find(Query, Name); }

void TPkcs11Uri::Set(const std::string& Name, const std::string& Value) {
  for (auto& [Key, Existing] : Path)
    if (Key == Name) {
      Existing = Value;
      return;
    }
  Path.emplace_back(Name, Value);
}

void TPkcs11Uri::Remove(std::string_view Name) {
  std::erase_if(Path, [Name](const auto& Attribute) { return Attribute.first == Name; });
}

std::string TPkcs11Uri::ToString() const {
  std::string Result(Scheme);
  for (std::size_t I = 0; I < Path.size(); ++I) {
    if (I > 0) Result += ';';
    Result += Path[I].first + '=' + Encode(Path[I].second, ":[]@!$'()*+,=", Path[I].first == "id");
  }
  for (std::size_t I = 0; I < Query.size(); ++I) {
    Result += I == 0 ? '?' : '&';
    Result += Query[I].first + '=' + Encode(Query[I].second, ":[]@!$'()*+,=/?|", false);
  }
  return Result;
}

bool IsPkcs11Uri(std::string_view Text) { return StartsWithAscii(Text, Scheme); }

std::optional<TPkcs11Uri> ParsePkcs11Uri(std::string_view Text) {
  if (!IsPkcs11Uri(Text)) return std::nullopt;
  Text.remove_prefix(Scheme.size());
  const std::size_t Question = std::min(Text.find('?'), Text.size());
  std::optional<TPkcs11Uri::TAttributes> Path = ParseAttributes(Text.substr(0, Question), ';');
  std::optional<TPkcs11Uri::TAttributes> Query =
      ParseAttributes(Text.substr(std::min(Question + 1, Text.size())), '&');
  if (!Path || !Query) return std::nullopt;
  return TPkcs11Uri{std::move(*Path), std::move(*Query)};
}
