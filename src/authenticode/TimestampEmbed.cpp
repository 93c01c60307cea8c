#include "authenticode/TimestampEmbed.h"

#include <openssl/objects.h>
#include <openssl/x509.h>

#include <limits>
#include <memory>
#include <vector>

#include "common/OpenSslPtr.h"
#include "authenticode/Pkcs7Parts.h"

namespace {
using TAttribute = std::unique_ptr<X509_ATTRIBUTE, TOpenSslFree<X509_ATTRIBUTE_free>>;
using TCertificate = std::unique_ptr<X509, TOpenSslFree<X509_free>>;

bool IsTimestampAttribute(X509_ATTRIBUTE* Attribute, const ASN1_OBJECT* Rfc3161) {
  const ASN1_OBJECT* Type = X509_ATTRIBUTE_get0_object(Attribute);
  return OBJ_obj2nid(Type) == NID_pkcs9_countersignature || OBJ_cmp(Type, Rfc3161) == 0;
}
}  // namespace

std::span<const std::uint8_t> SignatureValueOf(const PKCS7_SIGNER_INFO* Signer) {
  return {ASN1_STRING_get0_data(Signer->enc_digest), static_cast<std::size_t>(ASN1_STRING_length(Signer->enc_digest))};
}

bool AddTimestamp(PKCS7* SignedData, PKCS7_SIGNER_INFO* Signer, const TTimestampToken& Token) {
  const TObject Rfc3161(OBJ_txt2obj(Rfc3161TimestampOid, 1));
  if (!Rfc3161 || Token.AttributeValue.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return false;
  std::vector<TCertificate> Certificates;
  for (const std::vector<std::uint8_t>& Der : Token.Certificates) {
    const unsigned char* Data = Der.data();
    Certificates.emplace_back(d2i_X509(nullptr, &Data, static_cast<long>(Der.size())));
    if (!Certificates.back()) return false;
  }
  const bool IsRfc3161 = Token.Protocol == TTimestampProtocol::Rfc3161;
  TAttribute Attribute(IsRfc3161 ? X509_ATTRIBUTE_create_by_OBJ(nullptr, Rfc3161.get(), V_ASN1_SEQUENCE,
                                                                Token.AttributeValue.data(),
                                                                static_cast<int>(Token.AttributeValue.size()))
                                 : X509_ATTRIBUTE_create_by_NID(nullptr, NID_pkcs9_countersignature, V_ASN1_SEQUENCE,
                                                                Token.AttributeValue.data(),
                                                                static_cast<int>(Token.AttributeValue.size())));
  if (!Attribute) return false;
  if (Signer->unauth_attr == nullptr && (Signer->unauth_attr = sk_X509_ATTRIBUTE_new_null()) == nullptr) return false;

  for (int I = sk_X509_ATTRIBUTE_num(Signer->unauth_attr) - 1; I >= 0; --I) {
    if (IsTimestampAttribute(sk_X509_ATTRIBUTE_value(Signer->unauth_attr, I), Rfc3161.get()))
      X509_ATTRIBUTE_free(sk_X509_ATTRIBUTE_delete(Signer->unauth_attr, I));
  }
  if (sk_X509_ATTRIBUTE_push(Signer->unauth_attr, Attribute.get()) == 0) return false;
  (void)Attribute.release();
  for (auto Certificate = Certificates.rbegin(); Certificate != Certificates.rend(); ++Certificate)
    if (PKCS7_add_certificate(SignedData, Certificate->get()) != 1) return false;
  return true;
}
