#include "common/AuthenticodeInfo.h"

#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <array>
#include <ctime>
#include <memory>
#include <variant>

#include "common/ByteReader.h"
#include "common/PeHeaders.h"
#include "common/SignatureCount.h"

namespace {
constexpr std::uint16_t CertTypePkcsSignedData = 0x0002;
constexpr std::size_t WinCertificateHeaderSize = 8;
constexpr const char* NestedSignatureOid = "1.3.6.1.4.1.311.2.4.1";
constexpr const char* Rfc3161TimestampOid = "1.3.6.1.4.1.311.3.3.1";

template <auto Free>
struct TOpenSslFree {
  template <typename T>
  void operator()(T* Object) const { Free(Object); }
};
using TPkcs7 = std::unique_ptr<PKCS7, TOpenSslFree<PKCS7_free>>;
using TSignerInfo = std::unique_ptr<PKCS7_SIGNER_INFO, TOpenSslFree<PKCS7_SIGNER_INFO_free>>;
using TTstInfo = std::unique_ptr<TS_TST_INFO, TOpenSslFree<TS_TST_INFO_free>>;
using TObject = std::unique_ptr<ASN1_OBJECT, TOpenSslFree<ASN1_OBJECT_free>>;
using TBio = std::unique_ptr<BIO, TOpenSslFree<BIO_free>>;

TPkcs7 ParsePkcs7(const unsigned char* Data, long Length) {
  return TPkcs7(d2i_PKCS7(nullptr, &Data, Length));
}

// The DER bytes an attribute value of type SEQUENCE holds.
TPkcs7 ParsePkcs7(const ASN1_TYPE* Value) {
  if (Value == nullptr || Value->type != V_ASN1_SEQUENCE) return nullptr;
  return ParsePkcs7(Value->value.sequence->data, Value->value.sequence->length);
}

std::optional<std::int64_t> Seconds(const ASN1_TIME* Time) {
  std::tm Parts{};
  if (Time == nullptr || ASN1_TIME_to_tm(Time, &Parts) != 1) return std::nullopt;
  return static_cast<std::int64_t>(timegm(&Parts));
}

std::string NameText(const X509_NAME* Name) {
  if (Name == nullptr) return {};
  const int Index = X509_NAME_get_index_by_NID(Name, NID_commonName, -1);
  if (Index >= 0) {
    unsigned char* Utf8 = nullptr;
    const int Length = ASN1_STRING_to_UTF8(&Utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(Name, Index)));
    if (Length >= 0) {
      std::string Text(reinterpret_cast<const char*>(Utf8), static_cast<std::size_t>(Length));
      OPENSSL_free(Utf8);
      return Text;
    }
  }
  TBio Out(BIO_new(BIO_s_mem()));
  if (!Out || X509_NAME_print_ex(Out.get(), Name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) < 0) return {};
  char* Data = nullptr;
  const long Length = BIO_get_mem_data(Out.get(), &Data);
  return Length > 0 ? std::string(Data, static_cast<std::size_t>(Length)) : std::string();
}

std::string SerialText(const ASN1_INTEGER* Serial) {
  if (Serial == nullptr) return {};
  static constexpr std::array<char, 16> Digits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                  '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
  const unsigned char* Bytes = ASN1_STRING_get0_data(Serial);
  std::string Text;
  for (int I = 0; I < ASN1_STRING_length(Serial); ++I) {
    if (I > 0) Text += ' ';
    Text += Digits[Bytes[I] >> 4];
    Text += Digits[Bytes[I] & 0x0F];
  }
  return Text;
}

std::string DigestName(PKCS7_SIGNER_INFO* Signer) {
  X509_ALGOR* Digest = nullptr;
  PKCS7_SIGNER_INFO_get0_algs(Signer, nullptr, &Digest, nullptr);
  if (Digest == nullptr) return {};
  const ASN1_OBJECT* Algorithm = nullptr;
  X509_ALGOR_get0(&Algorithm, nullptr, nullptr, Digest);
  const int Nid = OBJ_obj2nid(Algorithm);
  if (Nid != NID_undef) return OBJ_nid2ln(Nid);
  std::array<char, 128> Dotted{};
  OBJ_obj2txt(Dotted.data(), static_cast<int>(Dotted.size()), Algorithm, 1);
  return Dotted.data();
}

// Every value of the unsigned attributes named Oid, in order.
std::vector<ASN1_TYPE*> UnsignedAttributeValues(PKCS7_SIGNER_INFO* Signer, const char* Oid) {
  std::vector<ASN1_TYPE*> Values;
  const TObject Object(OBJ_txt2obj(Oid, 1));
  const STACK_OF(X509_ATTRIBUTE)* Attributes = PKCS7_get_attributes(Signer);
  if (!Object || Attributes == nullptr) return Values;
  for (int Index = X509at_get_attr_by_OBJ(Attributes, Object.get(), -1); Index >= 0;
       Index = X509at_get_attr_by_OBJ(Attributes, Object.get(), Index)) {
    X509_ATTRIBUTE* Attribute = X509at_get_attr(Attributes, Index);
    for (int I = 0; I < X509_ATTRIBUTE_count(Attribute); ++I) Values.push_back(X509_ATTRIBUTE_get0_type(Attribute, I));
  }
  return Values;
}

// The signing time of an Authenticode countersignature, else the time of an RFC 3161 token.
std::optional<std::int64_t> TimestampTime(PKCS7_SIGNER_INFO* Signer) {
  const ASN1_TYPE* Counter = PKCS7_get_attribute(Signer, NID_pkcs9_countersignature);
  if (Counter != nullptr && Counter->type == V_ASN1_SEQUENCE) {
    const unsigned char* Data = Counter->value.sequence->data;
    const TSignerInfo CounterSigner(d2i_PKCS7_SIGNER_INFO(nullptr, &Data, Counter->value.sequence->length));
    if (CounterSigner) {
      const ASN1_TYPE* SigningTime = PKCS7_get_signed_attribute(CounterSigner.get(), NID_pkcs9_signingTime);
      if (SigningTime != nullptr && (SigningTime->type == V_ASN1_UTCTIME || SigningTime->type == V_ASN1_GENERALIZEDTIME))
        return Seconds(SigningTime->value.utctime);
    }
  }
  for (ASN1_TYPE* Value : UnsignedAttributeValues(Signer, Rfc3161TimestampOid)) {
    const TPkcs7 Token = ParsePkcs7(Value);
    if (!Token || !PKCS7_type_is_signed(Token.get())) continue;
    const TTstInfo Info(PKCS7_to_TS_TST_INFO(Token.get()));
    if (Info) return Seconds(TS_TST_INFO_get_time(Info.get()));
  }
  return std::nullopt;
}

TSignatureInfo ReadSignerInfo(PKCS7* SignedData, PKCS7_SIGNER_INFO* Signer, int Level) {
  TSignatureInfo Info;
  Info.NestingLevel = Level;
  Info.DigestAlgorithm = DigestName(Signer);
  if (const PKCS7_ISSUER_AND_SERIAL* IssuerAndSerial = Signer->issuer_and_serial) {
    Info.Issuer = NameText(IssuerAndSerial->issuer);
    Info.SerialNumber = SerialText(IssuerAndSerial->serial);
  }
  if (const X509* Certificate = PKCS7_cert_from_signer_info(SignedData, Signer)) {
    Info.Signer = NameText(X509_get_subject_name(Certificate));
    Info.ValidFrom = Seconds(X509_get0_notBefore(Certificate));
    Info.ValidTo = Seconds(X509_get0_notAfter(Certificate));
  }
  Info.TimestampTime = TimestampTime(Signer);
  return Info;
}

std::span<const std::uint8_t> SequenceBytes(const ASN1_TYPE* Value) {
  if (Value == nullptr || Value->type != V_ASN1_SEQUENCE || Value->value.sequence->length < 0) return {};
  return {Value->value.sequence->data, static_cast<std::size_t>(Value->value.sequence->length)};
}

// Reads signatures while there is room for them and only counts them after that.
class TSignatureReader {
 public:
  TSignatureReader(TAuthenticodeInfo& Result, std::size_t MaxSignatures) : Result(Result), MaxSignatures(MaxSignatures) {}

  bool Full() const { return Result.Signatures.size() >= MaxSignatures; }

  void Count(std::span<const std::uint8_t> Der, int Level) { Result.MoreSignatures += CountSignatures(Der, Level); }

  void Read(PKCS7* SignedData, int Level) {
    if (Level > MaxSignatureNestingLevel || !PKCS7_type_is_signed(SignedData) || SignedData->d.sign == nullptr) return;
    STACK_OF(PKCS7_SIGNER_INFO)* Signers = PKCS7_get_signer_info(SignedData);
    if (Signers == nullptr) return;
    for (int I = 0; I < sk_PKCS7_SIGNER_INFO_num(Signers); ++I) {
      PKCS7_SIGNER_INFO* Signer = sk_PKCS7_SIGNER_INFO_value(Signers, I);
      if (Full()) {
        ++Result.MoreSignatures;
      } else {
        Result.Signatures.push_back(ReadSignerInfo(SignedData, Signer, Level));
      }
      if (Level == MaxSignatureNestingLevel) continue;
      for (ASN1_TYPE* Value : UnsignedAttributeValues(Signer, NestedSignatureOid)) {
        if (Full()) {
          Count(SequenceBytes(Value), Level + 1);
        } else if (const TPkcs7 Nested = ParsePkcs7(Value)) {
          Read(Nested.get(), Level + 1);
        }
      }
    }
  }

 private:
  TAuthenticodeInfo& Result;
  std::size_t MaxSignatures;
};
}  // namespace

TAuthenticodeInfo ReadAuthenticodeInfo(std::span<const std::uint8_t> Image, std::size_t MaxSignatures) {
  const auto Headers = ReadPeHeaders(Image);
  if (!std::holds_alternative<TPeHeaders>(Headers)) return {};
  const TPeHeaders& Pe = std::get<TPeHeaders>(Headers);
  if (Pe.CertOffset == 0 || Pe.CertSize == 0 || !Fits(Image, Pe.CertOffset, Pe.CertSize)) return {};
  return ReadAuthenticodeTable(Image.subspan(Pe.CertOffset, Pe.CertSize), MaxSignatures);
}

TAuthenticodeInfo ReadAuthenticodeTable(std::span<const std::uint8_t> Table, std::size_t MaxSignatures) {
  TAuthenticodeInfo Result;
  Result.HasCertificateTable = true;
  TSignatureReader Reader(Result, MaxSignatures);
  for (std::uint64_t Pos = 0; Fits(Table, Pos, WinCertificateHeaderSize);) {
    const std::uint32_t Length = ReadLe32(Table, Pos);
    if (Length < WinCertificateHeaderSize || !Fits(Table, Pos, Length)) break;
    if (ReadLe16(Table, Pos + 6) == CertTypePkcsSignedData) {
      const auto Der = Table.subspan(Pos + WinCertificateHeaderSize, Length - WinCertificateHeaderSize);
      if (Reader.Full()) {
        Reader.Count(Der, 0);
      } else if (const TPkcs7 SignedData = ParsePkcs7(Der.data(), static_cast<long>(Der.size()))) {
        Reader.Read(SignedData.get(), 0);
      }
    }
    Pos += (static_cast<std::uint64_t>(Length) + 7) & ~std::uint64_t{7};
  }
  return Result;
}
