#include "authenticode/AuthenticodeInfo.h"

#include <openssl/objects.h>

#include <array>

#include "authenticode/Pkcs7Parts.h"
#include "authenticode/SignatureCount.h"

namespace {
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

// The signing time of an Authenticode countersignature, else the time of an RFC 3161 token.
std::optional<std::int64_t> TimestampTime(PKCS7_SIGNER_INFO* Signer) {
  if (const TSignerInfo CounterSigner = ParseCountersignature(Signer))
    if (const auto Time = SigningTime(CounterSigner.get())) return Time;
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

TAuthenticodeInfo ReadAuthenticodeSignedData(std::span<const std::uint8_t> Der, std::size_t MaxSignatures) {
  TAuthenticodeInfo Result;
  Result.HasCertificateTable = true;
  TSignatureReader Reader(Result, MaxSignatures);
  if (Reader.Full()) {
    Reader.Count(Der, 0);
  } else if (const TPkcs7 SignedData = ParsePkcs7(Der)) {
    Reader.Read(SignedData.get(), 0);
  }
  return Result;
}

TAuthenticodeInfo ReadAuthenticodeInfo(const TSignedContainer& Container, std::size_t MaxSignatures) {
  TAuthenticodeInfo Result;
  if (Container.Slot == TSignatureSlot::Absent) return Result;
  Result.HasCertificateTable = true;
  if (Container.SignedData.empty()) return Result;
  return ReadAuthenticodeSignedData(Container.SignedData, MaxSignatures);
}
