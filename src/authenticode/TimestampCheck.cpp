#include "authenticode/TimestampCheck.h"

#include <openssl/objects.h>

#include <algorithm>
#include <vector>

#include "authenticode/CertificateChain.h"
#include "authenticode/Pkcs7Parts.h"

namespace {
// What a timestamp signs: the digest of the signer's signature value.
std::vector<unsigned char> SignatureValueDigest(PKCS7_SIGNER_INFO* Signer, const EVP_MD* Md) {
  std::vector<unsigned char> Digest(static_cast<std::size_t>(EVP_MD_get_size(Md)));
  unsigned int Length = 0;
  if (EVP_Digest(ASN1_STRING_get0_data(Signer->enc_digest), static_cast<std::size_t>(ASN1_STRING_length(Signer->enc_digest)),
                 Digest.data(), &Length, Md, nullptr) != 1)
    return {};
  Digest.resize(Length);
  return Digest;
}

bool TrustedForTimeStamping(X509_STORE* Store, X509* Tsa, STACK_OF(X509)* Certificates, std::int64_t Time) {
  return IsForTimeStamping(Tsa) && CheckChain(Store, Tsa, Certificates, Time, TCertificatePurpose::TimeStamping) == TChainVerdict::Trusted;
}

// The time of a timestamp whose signature and imprint hold; the chain decides whether it counts.
struct TStamp {
  std::int64_t Time = 0;
  X509* Tsa = nullptr;
  STACK_OF(X509)* Certificates = nullptr;
};

std::optional<TStamp> CheckCountersignature(PKCS7* SignedData, PKCS7_SIGNER_INFO* Signer,
                                            PKCS7_SIGNER_INFO* Counter) {
  STACK_OF(X509)* Certificates = SignedData->d.sign->cert;
  if (Counter->issuer_and_serial == nullptr || Counter->digest_alg == nullptr) return std::nullopt;
  X509* Tsa = X509_find_by_issuer_and_serial(Certificates, Counter->issuer_and_serial->issuer,
                                             Counter->issuer_and_serial->serial);
  const EVP_MD* Md = EVP_get_digestbyobj(Counter->digest_alg->algorithm);
  const std::optional<std::int64_t> Time = SigningTime(Counter);
  if (Tsa == nullptr || Md == nullptr || !Time) return std::nullopt;

  // The countersignature's message digest covers the signer's signature value.
  TBio Hash(BIO_new(BIO_f_md()));
  if (!Hash || BIO_set_md(Hash.get(), Md) != 1) return std::nullopt;
  BIO* Sink = BIO_new(BIO_s_null());
  if (Sink == nullptr) return std::nullopt;
  BIO_push(Hash.get(), Sink);
  if (BIO_write(Hash.get(), ASN1_STRING_get0_data(Signer->enc_digest), ASN1_STRING_length(Signer->enc_digest)) !=
      ASN1_STRING_length(Signer->enc_digest))
    return std::nullopt;
  if (PKCS7_signatureVerify(Hash.get(), SignedData, Counter, Tsa) != 1) return std::nullopt;
  return TStamp{*Time, Tsa, Certificates};
}

std::optional<TStamp> CheckTimestampToken(PKCS7_SIGNER_INFO* Signer, PKCS7* Token) {
  if (!PKCS7_type_is_signed(Token) || Token->d.sign == nullptr) return std::nullopt;
  // Signature and content digest only; the chain is checked at the time the token names.
  if (PKCS7_verify(Token, nullptr, nullptr, nullptr, nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) != 1) return std::nullopt;
  const TCertificateList Signers(PKCS7_get0_signers(Token, nullptr, 0));
  if (!Signers || sk_X509_num(Signers.get()) != 1) return std::nullopt;
  X509* Tsa = sk_X509_value(Signers.get(), 0);

  const TTstInfo Info(PKCS7_to_TS_TST_INFO(Token));
  if (!Info) return std::nullopt;
  TS_MSG_IMPRINT* Imprint = TS_TST_INFO_get_msg_imprint(Info.get());
  const EVP_MD* Md = EVP_get_digestbyobj(TS_MSG_IMPRINT_get_algo(Imprint)->algorithm);
  const std::optional<std::int64_t> Time = Seconds(TS_TST_INFO_get_time(Info.get()));
  if (Md == nullptr || !Time) return std::nullopt;
  const std::vector<unsigned char> Expected = SignatureValueDigest(Signer, Md);
  const ASN1_OCTET_STRING* Stamped = TS_MSG_IMPRINT_get_msg(Imprint);
  const auto* StampedData = ASN1_STRING_get0_data(Stamped);
  if (Expected.empty() || static_cast<std::size_t>(ASN1_STRING_length(Stamped)) != Expected.size() ||
      !std::equal(Expected.begin(), Expected.end(), StampedData))
    return std::nullopt;
  return TStamp{*Time, Tsa, Token->d.sign->cert};
}

// Records a timestamp that holds, and whether its chain is trusted.
void Judge(const std::optional<TStamp>& Stamp, X509_STORE* Store, TTimestampCheck& Result) {
  if (!Stamp) return;
  if (TrustedForTimeStamping(Store, Stamp->Tsa, Stamp->Certificates, Stamp->Time)) {
    Result.Time = Stamp->Time;
  } else {
    Result.IssuerUntrusted = true;
  }
}
}  // namespace

TTimestampCheck CheckTimestamp(PKCS7* SignedData, PKCS7_SIGNER_INFO* Signer, X509_STORE* Store) {
  TTimestampCheck Result;
  if (PKCS7_get_attribute(Signer, NID_pkcs9_countersignature) != nullptr) {
    Result.Present = true;
    if (const TSignerInfo Counter = ParseCountersignature(Signer))
      Judge(CheckCountersignature(SignedData, Signer, Counter.get()), Store, Result);
    if (Result.Time) return Result;
  }
  for (ASN1_TYPE* Value : UnsignedAttributeValues(Signer, Rfc3161TimestampOid)) {
    Result.Present = true;
    if (const TPkcs7 Token = ParsePkcs7(Value)) Judge(CheckTimestampToken(Signer, Token.get()), Store, Result);
    if (Result.Time) return Result;
  }
  return Result;
}
