#include "authenticode/SignatureCheck.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <ctime>
#include <initializer_list>
#include <optional>

#include "authenticode/CertificateChain.h"
#include "common/DisplayedText.h"
#include "authenticode/FileDigest.h"
#include "common/OpenSslPtr.h"
#include "authenticode/Pkcs7Parts.h"
#include "authenticode/TimestampCheck.h"

namespace {
constexpr const char* IndirectDataOid = "1.3.6.1.4.1.311.2.1.4";

// The bytes inside the SEQUENCE the signature covers, and the file digest it names.
struct TIndirectData {
  const unsigned char* Content = nullptr;
  long ContentLength = 0;
  const EVP_MD* Md = nullptr;
  std::vector<unsigned char> Digest;
};

std::optional<TIndirectData> ReadIndirectData(PKCS7* SignedData) {
  PKCS7* Contents = SignedData->d.sign->contents;
  if (Contents == nullptr || Contents->type == nullptr || Contents->d.other == nullptr) return std::nullopt;
  const TObject Expected(OBJ_txt2obj(IndirectDataOid, 1));
  if (!Expected || OBJ_cmp(Contents->type, Expected.get()) != 0 || Contents->d.other->type != V_ASN1_SEQUENCE)
    return std::nullopt;

  const ASN1_STRING* Sequence = Contents->d.other->value.sequence;
  const unsigned char* Pos = ASN1_STRING_get0_data(Sequence);
  TIndirectData Result;
  int Tag = 0;
  int Class = 0;
  if (ASN1_get_object(&Pos, &Result.ContentLength, &Tag, &Class, ASN1_STRING_length(Sequence)) != V_ASN1_CONSTRUCTED ||
      Tag != V_ASN1_SEQUENCE)
    return std::nullopt;
  Result.Content = Pos;

  // SpcIndirectDataContent: the data's type and value, then a DigestInfo.
  const unsigned char* End = Pos + Result.ContentLength;
  long DataLength = 0;
  if ((ASN1_get_object(&Pos, &DataLength, &Tag, &Class, End - Pos) & 0x80) != 0 || DataLength > End - Pos)
    return std::nullopt;
  Pos += DataLength;
  const TX509Sig DigestInfo(d2i_X509_SIG(nullptr, &Pos, End - Pos));
  if (!DigestInfo) return std::nullopt;
  const X509_ALGOR* Algorithm = nullptr;
  const ASN1_OCTET_STRING* Digest = nullptr;
  X509_SIG_get0(DigestInfo.get(), &Algorithm, &Digest);
  Result.Md = EVP_get_digestbyobj(Algorithm->algorithm);
  if (Result.Md == nullptr) return std::nullopt;
  const unsigned char* DigestData = ASN1_STRING_get0_data(Digest);
  Result.Digest.assign(DigestData, DigestData + ASN1_STRING_length(Digest));
  return Result;
}

bool SignatureHolds(PKCS7* SignedData, const TIndirectData& Signed) {
  // Authenticode signs the content of the SEQUENCE without its tag and length.
  const TBio Content(BIO_new_mem_buf(Signed.Content, static_cast<int>(Signed.ContentLength)));
  return Content && PKCS7_verify(SignedData, nullptr, nullptr, Content.get(), nullptr,
                                 PKCS7_NOVERIFY | PKCS7_BINARY) == 1;
}

std::string IsoTime(std::int64_t Seconds) {
  const auto Time = static_cast<std::time_t>(Seconds);
  std::tm Parts{};
  if (gmtime_r(&Time, &Parts) == nullptr) return {};
  char Text[32] = {};
  return std::strftime(Text, sizeof Text, "%Y-%m-%dT%H:%M:%SZ", &Parts) > 0 ? Text : "";
}

enum class TDigestStrength { Sound, Weak, Broken };

// MD5 collisions make a signature transplantable; SHA-1 is weak but Windows still accepts it.
TDigestStrength Weakest(std::initializer_list<const EVP_MD*> Digests) {
  TDigestStrength Result = TDigestStrength::Sound;
  for (const EVP_MD* Md : Digests) {
    const int Type = Md == nullptr ? NID_undef : EVP_MD_get_type(Md);
    if (Type == NID_md5 || Type == NID_md5_sha1 || Type == NID_md4 || Type == NID_md2) return TDigestStrength::Broken;
    if (Type == NID_sha1) Result = TDigestStrength::Weak;
  }
  return Result;
}

TSignatureVerdict Verdict(TVerifyState State, const char* Reason, std::string Signer = {}) {
  return {State, Reason, std::move(Signer), {}};
}
}  // namespace

TSignatureVerdict CheckSignedData(PKCS7* SignedData, TFileDigests& Digests, X509_STORE* Store) {
  const char* Damaged = DISPLAYED_TEXT("VerifySignature", "签名数据已损坏");
  if (!PKCS7_type_is_signed(SignedData) || SignedData->d.sign == nullptr) return Verdict(vsUnreadable, Damaged);
  STACK_OF(PKCS7_SIGNER_INFO)* Signers = PKCS7_get_signer_info(SignedData);
  if (Signers == nullptr || sk_PKCS7_SIGNER_INFO_num(Signers) != 1) return Verdict(vsUnreadable, Damaged);
  PKCS7_SIGNER_INFO* Signer = sk_PKCS7_SIGNER_INFO_value(Signers, 0);
  X509* Certificate = PKCS7_cert_from_signer_info(SignedData, Signer);
  if (Certificate == nullptr)
    return Verdict(vsUnreadable, DISPLAYED_TEXT("VerifySignature", "签名中缺少签名者的证书"));
  std::string Name = NameText(X509_get_subject_name(Certificate));

  const std::optional<TIndirectData> Signed = ReadIndirectData(SignedData);
  if (!Signed) return Verdict(vsUnreadable, Damaged, Name);
  const std::optional<std::vector<unsigned char>> Actual = Digests.Of(Signed->Md);
  if (!Actual) return Verdict(vsUnreadable, DISPLAYED_TEXT("VerifySignature", "无法读取文件"), Name);
  if (*Actual != Signed->Digest)
    return Verdict(vsTampered, DISPLAYED_TEXT("VerifySignature", "文件在签名后被修改"), Name);
  if (!SignatureHolds(SignedData, *Signed))
    return Verdict(vsTampered, DISPLAYED_TEXT("VerifySignature", "签名与签名内容不符，签名已被篡改"), Name);
  const TDigestStrength Strength = Weakest({Signed->Md, EVP_get_digestbyobj(Signer->digest_alg->algorithm)});
  if (Strength == TDigestStrength::Broken)
    return Verdict(vsUntrusted, DISPLAYED_TEXT("VerifySignature", "使用了不安全的摘要算法 MD5"), Name);

  const TTimestampCheck Stamp = CheckTimestamp(SignedData, Signer, Store);
  STACK_OF(X509)* Certificates = SignedData->d.sign->cert;
  switch (CheckChain(Store, Certificate, Certificates, Stamp.Time, TCertificatePurpose::CodeSigning)) {
    case TChainVerdict::Untrusted:
      return Verdict(vsUntrusted, DISPLAYED_TEXT("VerifySignature", "签名证书链不受信任"), Name);
    case TChainVerdict::WrongPurpose:
      return Verdict(vsUntrusted, DISPLAYED_TEXT("VerifySignature", "签名证书链中的颁发机构不能用于代码签名"), Name);
    case TChainVerdict::Expired:
      return Verdict(vsExpired,
                     Stamp.Time ? DISPLAYED_TEXT("VerifySignature", "时间戳时间不在签名证书有效期内")
                                : DISPLAYED_TEXT("VerifySignature", "签名证书已过期，且没有有效的时间戳"),
                     Name);
    case TChainVerdict::Trusted:
      break;
  }
  if (!IsForCodeSigning(Certificate))
    return Verdict(vsUntrusted, DISPLAYED_TEXT("VerifySignature", "签名证书不能用于代码签名"), Name);
  TSignatureVerdict Result =
      !Stamp.Time ? Verdict(vsValidNoTimestamp,
                            Stamp.IssuerUntrusted ? DISPLAYED_TEXT("VerifySignature", "签名有效，但时间戳的颁发者不受信任")
                            : Stamp.Present ? DISPLAYED_TEXT("VerifySignature", "签名有效，但时间戳无效")
                                            : DISPLAYED_TEXT("VerifySignature", "签名有效，但没有时间戳"),
                            Name)
                  : Verdict(vsValid, DISPLAYED_TEXT("VerifySignature", "签名有效"), Name);
  if (Stamp.Time) Result.TimeStamp = IsoTime(*Stamp.Time);
  Result.WeakDigest = Strength == TDigestStrength::Weak;
  return Result;
}

TNestedVerdicts CheckNestedSignatures(PKCS7* Primary, TFileDigests& Digests, X509_STORE* Store) {
  TNestedVerdicts Result;
  STACK_OF(PKCS7_SIGNER_INFO)* Signers = PKCS7_type_is_signed(Primary) && Primary->d.sign != nullptr
                                             ? PKCS7_get_signer_info(Primary)
                                             : nullptr;
  if (Signers == nullptr || sk_PKCS7_SIGNER_INFO_num(Signers) != 1) return Result;
  for (ASN1_TYPE* Value : UnsignedAttributeValues(sk_PKCS7_SIGNER_INFO_value(Signers, 0), NestedSignatureOid)) {
    if (Result.Checked.size() == MaxCheckedNestedSignatures) {
      ++Result.Unchecked;
      continue;
    }
    const TPkcs7 Nested = ParsePkcs7(Value);
    Result.Checked.push_back(Nested ? CheckSignedData(Nested.get(), Digests, Store) : TSignatureVerdict{});
  }
  return Result;
}
