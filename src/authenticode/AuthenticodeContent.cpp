#include "authenticode/AuthenticodeContent.h"

#include <openssl/objects.h>

#include <stdexcept>

namespace {
constexpr std::uint8_t TagBitString = 0x03;
constexpr std::uint8_t TagOctetString = 0x04;
constexpr std::uint8_t TagSequence = 0x30;
constexpr std::uint8_t TagContext0 = 0x80;         // [0] IMPLICIT, primitive
constexpr std::uint8_t TagContext1 = 0x81;         // [1] IMPLICIT, primitive
constexpr std::uint8_t TagExplicit0 = 0xA0;        // [0] EXPLICIT
constexpr std::uint8_t TagExplicit1 = 0xA1;        // [1] EXPLICIT
constexpr std::uint8_t TagExplicit2 = 0xA2;        // [2] EXPLICIT
constexpr const char* PeImageDataOid = "1.3.6.1.4.1.311.2.1.15";
constexpr const char* CabDataOid = "1.3.6.1.4.1.311.2.1.25";

using TBytes = std::vector<std::uint8_t>;

TBytes Der(std::uint8_t Tag, std::span<const std::uint8_t> Content) {
  TBytes Result{Tag};
  const std::size_t Length = Content.size();
  if (Length < 0x80) {
    Result.push_back(static_cast<std::uint8_t>(Length));
  } else {
    TBytes LengthBytes;
    for (std::size_t Rest = Length; Rest != 0; Rest >>= 8)
      LengthBytes.insert(LengthBytes.begin(), static_cast<std::uint8_t>(Rest & 0xFF));
    Result.push_back(static_cast<std::uint8_t>(0x80 | LengthBytes.size()));
    Result.insert(Result.end(), LengthBytes.begin(), LengthBytes.end());
  }
  Result.insert(Result.end(), Content.begin(), Content.end());
  return Result;
}

TBytes Joined(std::initializer_list<TBytes> Parts) {
  TBytes Result;
  for (const TBytes& Part : Parts) Result.insert(Result.end(), Part.begin(), Part.end());
  return Result;
}

TBytes Text(const std::string& Value) { return TBytes(Value.begin(), Value.end()); }

TBytes ObjectId(const ASN1_OBJECT* Object) {
  unsigned char* Encoded = nullptr;
  const int Length = i2d_ASN1_OBJECT(Object, &Encoded);
  if (Length <= 0) throw std::runtime_error("Cannot encode an object identifier");
  TBytes Result(Encoded, Encoded + Length);
  OPENSSL_free(Encoded);
  return Result;
}

TBytes ObjectId(const char* Oid) {
  ASN1_OBJECT* Object = OBJ_txt2obj(Oid, 1);
  if (!Object) throw std::runtime_error("Cannot encode an object identifier");
  TBytes Result = ObjectId(Object);
  ASN1_OBJECT_free(Object);
  return Result;
}

// SpcLink naming the file "<<<Obsolete>>>" in UTF-16, as every signer writes it.
TBytes ObsoleteFileLink() {
  const std::u16string Name = u"<<<Obsolete>>>";
  TBytes Utf16BigEndian;
  for (char16_t Unit : Name) {
    Utf16BigEndian.push_back(static_cast<std::uint8_t>(Unit >> 8));
    Utf16BigEndian.push_back(static_cast<std::uint8_t>(Unit & 0xFF));
  }
  return Der(TagExplicit2, Der(TagContext0, Utf16BigEndian));
}

// SpcPeImageData: flags with the first bit set, and the obsolete file link.
TBytes PeImageData() {
  const TBytes Flags = Der(TagBitString, TBytes{0x07, 0x80});
  return Der(TagSequence, Joined({Flags, Der(TagExplicit0, ObsoleteFileLink())}));
}
}  // namespace

std::vector<std::uint8_t> IndirectDataContent(TSignedFileKind Kind, const EVP_MD* Md,
                                              std::span<const std::uint8_t> FileDigest) {
  const TBytes Data = Kind == TSignedFileKind::Pe ? Joined({ObjectId(PeImageDataOid), PeImageData()})
                                                   : Joined({ObjectId(CabDataOid), ObsoleteFileLink()});
  const TBytes Algorithm = Der(TagSequence, Joined({ObjectId(OBJ_nid2obj(EVP_MD_get_type(Md))), TBytes{0x05, 0x00}}));
  const TBytes DigestInfo = Der(TagSequence, Joined({Algorithm, Der(TagOctetString, FileDigest)}));
  return Der(TagSequence, Joined({Der(TagSequence, Data), DigestInfo}));
}

std::vector<std::uint8_t> IndividualStatementType() {
  return Der(TagSequence, ObjectId("1.3.6.1.4.1.311.2.1.21"));
}

std::vector<std::uint8_t> OpusInfo(const std::string& Description, const std::string& Url) {
  TBytes Content;
  // The program name as an ASCII SpcString, the address as a URL SpcLink; both carry the bytes
  // as given.
  if (!Description.empty()) Content = Der(TagExplicit0, Der(TagContext1, Text(Description)));
  if (!Url.empty()) {
    const TBytes MoreInfo = Der(TagExplicit1, Der(TagContext0, Text(Url)));
    Content.insert(Content.end(), MoreInfo.begin(), MoreInfo.end());
  }
  return Der(TagSequence, Content);
}
