#include "authenticode/SignatureCount.h"

#include <openssl/asn1.h>

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <vector>

namespace {
// The content octets of the object identifiers 1.2.840.113549.1.7.2 (signed data) and
// 1.3.6.1.4.1.311.2.4.1 (a nested Authenticode signature).
constexpr std::array<std::uint8_t, 9> SignedDataOid = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
constexpr std::array<std::uint8_t, 10> NestedSignatureOid = {0x2B, 0x06, 0x01, 0x04, 0x01,
                                                             0x82, 0x37, 0x02, 0x04, 0x01};

struct TElement {
  int Tag;
  int Class;
  std::span<const std::uint8_t> Content;
  std::span<const std::uint8_t> Whole;  // header and content
};

// The element at the start of Bytes; only definite lengths, as DER has.
std::optional<TElement> ReadElement(std::span<const std::uint8_t> Bytes) {
  if (Bytes.empty() || Bytes.size() > static_cast<std::size_t>(LONG_MAX)) return std::nullopt;
  const unsigned char* Pos = Bytes.data();
  long Length = 0;
  int Tag = 0;
  int Class = 0;
  const int Flags = ASN1_get_object(&Pos, &Length, &Tag, &Class, static_cast<long>(Bytes.size()));
  if ((Flags & 0x80) != 0 || (Flags & 0x01) != 0 || Length < 0) return std::nullopt;
  const auto Header = static_cast<std::size_t>(Pos - Bytes.data());
  if (Header > Bytes.size() || static_cast<std::size_t>(Length) > Bytes.size() - Header) return std::nullopt;
  const std::size_t Size = Header + static_cast<std::size_t>(Length);
  return TElement{Tag, Class, Bytes.subspan(Header, static_cast<std::size_t>(Length)), Bytes.first(Size)};
}

// The elements that make up a constructed element's content, up to the first that is not whole.
std::vector<TElement> Children(std::span<const std::uint8_t> Content) {
  std::vector<TElement> Result;
  while (!Content.empty()) {
    const auto Element = ReadElement(Content);
    if (!Element) break;
    Result.push_back(*Element);
    Content = Content.subspan(Element->Whole.size());
  }
  return Result;
}

bool IsUniversal(const TElement& Element, int Tag) { return Element.Class == V_ASN1_UNIVERSAL && Element.Tag == Tag; }

template <std::size_t N>
bool IsOid(const TElement& Element, const std::array<std::uint8_t, N>& Oid) {
  return IsUniversal(Element, V_ASN1_OBJECT) && std::equal(Element.Content.begin(), Element.Content.end(), Oid.begin(), Oid.end());
}

// SignerInfo ::= SEQUENCE { version, issuerAndSerialNumber, digestAlgorithm,
//   [0] authenticatedAttributes OPTIONAL, digestEncryptionAlgorithm, encryptedDigest,
//   [1] unauthenticatedAttributes OPTIONAL }
std::size_t CountSignerInfo(const TElement& SignerInfo, int Level) {
  std::size_t Count = 1;
  if (Level >= MaxSignatureNestingLevel) return Count;
  for (const TElement& Part : Children(SignerInfo.Content)) {
    if (Part.Class != V_ASN1_CONTEXT_SPECIFIC || Part.Tag != 1) continue;
    for (const TElement& Attribute : Children(Part.Content)) {
      const std::vector<TElement> TypeAndValues = Children(Attribute.Content);
      if (TypeAndValues.size() != 2 || !IsOid(TypeAndValues[0], NestedSignatureOid)) continue;
      for (const TElement& Value : Children(TypeAndValues[1].Content)) Count += CountSignatures(Value.Whole, Level + 1);
    }
  }
  return Count;
}
}  // namespace

// ContentInfo ::= SEQUENCE { contentType, [0] EXPLICIT SignedData }
// SignedData ::= SEQUENCE { version, digestAlgorithms SET, contentInfo, [0] certificates OPTIONAL,
//   [1] crls OPTIONAL, signerInfos SET }
std::size_t CountSignatures(std::span<const std::uint8_t> Der, int Level) {
  const auto ContentInfo = ReadElement(Der);
  if (!ContentInfo || !IsUniversal(*ContentInfo, V_ASN1_SEQUENCE)) return 0;
  const std::vector<TElement> TypeAndContent = Children(ContentInfo->Content);
  if (TypeAndContent.size() < 2 || !IsOid(TypeAndContent[0], SignedDataOid)) return 0;
  const auto SignedData = ReadElement(TypeAndContent[1].Content);
  if (!SignedData || !IsUniversal(*SignedData, V_ASN1_SEQUENCE)) return 0;
  const std::vector<TElement> Parts = Children(SignedData->Content);
  if (Parts.size() < 4 || !IsUniversal(Parts.back(), V_ASN1_SET)) return 0;
  std::size_t Count = 0;
  for (const TElement& SignerInfo : Children(Parts.back().Content))
    if (IsUniversal(SignerInfo, V_ASN1_SEQUENCE)) Count += CountSignerInfo(SignerInfo, Level);
  return Count;
}
