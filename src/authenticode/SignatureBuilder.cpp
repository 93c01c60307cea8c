#include "authenticode/SignatureBuilder.h"

#include <openssl/objects.h>

#include <algorithm>
#include <cstring>

#include "authenticode/Pkcs7Parts.h"

namespace {
using TAttribute = std::unique_ptr<X509_ATTRIBUTE, TOpenSslFree<X509_ATTRIBUTE_free>>;
using TAsn1Time = std::unique_ptr<ASN1_TIME, TOpenSslFree<ASN1_TIME_free>>;
using TAsn1Integer = std::unique_ptr<ASN1_INTEGER, TOpenSslFree<ASN1_INTEGER_free>>;

TObject Object(const char* Oid) { return TObject(OBJ_txt2obj(Oid, 1)); }

// Appends an attribute to the signer's signed attributes. They keep their order in the file;
// the signature is taken over their sorted (DER) form.
bool AddSignedAttribute(PKCS7_SIGNER_INFO* Signer, const ASN1_OBJECT* Type, int ValueType, const void* Value,
                        int Length) {
  const TAttribute Attribute(X509_ATTRIBUTE_create_by_OBJ(nullptr, Type, ValueType, Value, Length));
  return Attribute && X509at_add1_attr(&Signer->auth_attr, Attribute.get()) != nullptr;
}

bool AddSequenceAttribute(PKCS7_SIGNER_INFO* Signer, const char* Oid, const std::vector<std::uint8_t>& Der) {
  const TObject Type = Object(Oid);
  return Type && AddSignedAttribute(Signer, Type.get(), V_ASN1_SEQUENCE, Der.data(), static_cast<int>(Der.size()));
}

std::vector<unsigned char> Digest(const EVP_MD* Md, const unsigned char* Data, std::size_t Length) {
  std::vector<unsigned char> Result(EVP_MAX_MD_SIZE);
  unsigned int Size = 0;
  if (EVP_Digest(Data, Length, Result.data(), &Size, Md, nullptr) != 1) return {};
  Result.resize(Size);
  return Result;
}

// The certificates go in ascending order of their DER bytes (a shorter prefix first), the order
// Windows asks of catalogs and osslsigncode keeps for every signature.
bool DerLess(X509* Left, X509* Right) {
  unsigned char* LeftDer = nullptr;
  unsigned char* RightDer = nullptr;
  const int LeftLength = i2d_X509(Left, &LeftDer);
  const int RightLength = i2d_X509(Right, &RightDer);
  const int Order = std::memcmp(LeftDer, RightDer, static_cast<std::size_t>(std::min(LeftLength, RightLength)));
  OPENSSL_free(LeftDer);
  OPENSSL_free(RightDer);
  return Order != 0 ? Order < 0 : LeftLength < RightLength;
}

bool AddCertificates(PKCS7* Signature, TSigningKey& Key, const std::vector<X509*>& Extra) {
  std::vector<X509*> All{Key.Certificate()};
  const std::vector<X509*> Chain = Key.Chain();
  All.insert(All.end(), Chain.begin(), Chain.end());
  All.insert(All.end(), Extra.begin(), Extra.end());
  std::stable_sort(All.begin(), All.end(), DerLess);
  return std::all_of(All.begin(), All.end(), [&](X509* Certificate) {
    return PKCS7_add_certificate(Signature, Certificate) == 1;
  });
}

// The signed content: SpcIndirectDataContent under its own content type.
bool SetContent(PKCS7* Signature, const std::vector<std::uint8_t>& Content) {
  TPkcs7 Inner(PKCS7_new());
  ASN1_STRING* Sequence = ASN1_STRING_new();
  ASN1_TYPE* Value = ASN1_TYPE_new();
  if (!Inner || !Sequence || !Value || ASN1_STRING_set(Sequence, Content.data(), static_cast<int>(Content.size())) != 1) {
    ASN1_STRING_free(Sequence);
    ASN1_TYPE_free(Value);
    return false;
  }
  ASN1_TYPE_set(Value, V_ASN1_SEQUENCE, Sequence);
  Inner->type = OBJ_txt2obj(IndirectDataOid, 1);
  Inner->d.other = Value;
  if (!Inner->type || PKCS7_set_content(Signature, Inner.get()) != 1) return false;
  Inner.release();
  return true;
}

// The digest the signer info's messageDigest holds: taken over the content's value, without the
// SEQUENCE's tag and length.
std::vector<unsigned char> ContentDigest(const EVP_MD* Md, const std::vector<std::uint8_t>& Content) {
  const unsigned char* Value = Content.data();
  long Length = 0;
  int Tag = 0, Class = 0;
  if ((ASN1_get_object(&Value, &Length, &Tag, &Class, static_cast<long>(Content.size())) & 0x80) != 0) return {};
  return Digest(Md, Value, static_cast<std::size_t>(Length));
}

bool AddAttributes(PKCS7_SIGNER_INFO* Signer, const TSignatureRequest& Request,
                   const std::vector<unsigned char>& MessageDigest) {
  const TAsn1Time Time(ASN1_TIME_adj(nullptr, static_cast<time_t>(Request.SigningTime), 0, 0));
  const TObject SigningTime(OBJ_nid2obj(NID_pkcs9_signingTime));
  if (!Time || !AddSignedAttribute(Signer, SigningTime.get(), Time->type, Time.get(), -1)) return false;
  if (!AddSequenceAttribute(Signer, StatementTypeOid, IndividualStatementType())) return false;
  if ((!Request.Description.empty() || !Request.DescriptionUrl.empty()) &&
      !AddSequenceAttribute(Signer, OpusInfoOid, OpusInfo(Request.Description, Request.DescriptionUrl)))
    return false;
  if (Request.SequenceNumber) {
    const TAsn1Integer Number(ASN1_INTEGER_new());
    const TObject Type = Object(SequenceNumberOid);
    if (!Number || !Type || ASN1_INTEGER_set(Number.get(), *Request.SequenceNumber) != 1 ||
        !AddSignedAttribute(Signer, Type.get(), V_ASN1_INTEGER, Number.get(), -1))
      return false;
  }
  const TObject ContentType(OBJ_nid2obj(NID_pkcs9_contentType));
  const TObject IndirectData = Object(IndirectDataOid);
  return IndirectData && AddSignedAttribute(Signer, ContentType.get(), V_ASN1_OBJECT, IndirectData.get(), -1) &&
         PKCS7_add1_attrib_digest(Signer, MessageDigest.data(), static_cast<int>(MessageDigest.size())) == 1;
}

std::string SignAttributes(PKCS7_SIGNER_INFO* Signer, const EVP_MD* Md, TSigningKey& Key) {
  unsigned char* Encoded = nullptr;
  const int Length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(Signer->auth_attr), &Encoded,
                                   ASN1_ITEM_rptr(PKCS7_ATTR_SIGN));
  if (Length <= 0) return "Cannot encode the signed attributes.";
  const std::vector<unsigned char> AttributesDigest = Digest(Md, Encoded, static_cast<std::size_t>(Length));
  OPENSSL_free(Encoded);
  if (AttributesDigest.empty()) return "Cannot compute the digest of the signed attributes.";
  TKeySignature Signed = Key.SignDigest(AttributesDigest, Md);
  if (Signed.Value.empty()) return Signed.Error.empty() ? "The key could not sign." : Signed.Error;
  if (ASN1_STRING_set(Signer->enc_digest, Signed.Value.data(), static_cast<int>(Signed.Value.size())) != 1)
    return "Cannot store the signature value.";
  return {};
}
}  // namespace

TBuiltSignature BuildSignature(const TSignatureRequest& Request, TSigningKey& Key) {
  TBuiltSignature Result;
  const auto Fail = [&Result](std::string Error) {
    Result.Signature.reset();
    Result.Error = std::move(Error);
    return std::move(Result);
  };
  const std::vector<std::uint8_t> Content = IndirectDataContent(Request.Kind, Request.Md, Request.FileDigest);
  const std::vector<unsigned char> MessageDigest = ContentDigest(Request.Md, Content);
  Result.Signature.reset(PKCS7_new());
  PKCS7* Signature = Result.Signature.get();
  if (MessageDigest.empty() || !Signature || PKCS7_set_type(Signature, NID_pkcs7_signed) != 1)
    return Fail("Cannot build the signature.");
  // The certificate's public key chooses the signature algorithm; the private key stays with
  // the key, which only ever sees the digest.
  X509* Certificate = Key.Certificate();
  PKCS7_SIGNER_INFO* Signer = PKCS7_add_signature(Signature, Certificate, X509_get0_pubkey(Certificate), Request.Md);
  if (!Signer) return Fail("The certificate's key type cannot sign with this digest algorithm.");
  if (!AddAttributes(Signer, Request, MessageDigest)) return Fail("Cannot build the signed attributes.");
  if (!AddCertificates(Signature, Key, Request.ExtraCertificates)) return Fail("Cannot add the certificates.");
  if (std::string Error = SignAttributes(Signer, Request.Md, Key); !Error.empty()) return Fail(std::move(Error));
  if (!SetContent(Signature, Content)) return Fail("Cannot build the signature.");
  return Result;
}

int NestedSignatureCount(PKCS7* Primary) {
  PKCS7_SIGNER_INFO* Signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(Primary), 0);
  return Signer ? static_cast<int>(UnsignedAttributeValues(Signer, NestedSignatureOid).size()) : 0;
}

bool AppendNestedSignature(PKCS7* Primary, PKCS7* Nested) {
  PKCS7_SIGNER_INFO* Signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(Primary), 0);
  const std::vector<std::uint8_t> Der = SignatureDer(Nested);
  const TObject Type = Object(NestedSignatureOid);
  if (!Signer || Der.empty() || !Type) return false;
  const int Length = static_cast<int>(Der.size());
  // One attribute holds every nested signature.
  const int Existing = X509at_get_attr_by_OBJ(Signer->unauth_attr, Type.get(), -1);
  if (Existing >= 0)
    return X509_ATTRIBUTE_set1_data(X509at_get_attr(Signer->unauth_attr, Existing), V_ASN1_SEQUENCE, Der.data(),
                                    Length) == 1;
  const TAttribute Attribute(X509_ATTRIBUTE_create_by_OBJ(nullptr, Type.get(), V_ASN1_SEQUENCE, Der.data(), Length));
  return Attribute && X509at_add1_attr(&Signer->unauth_attr, Attribute.get()) != nullptr;
}

std::vector<std::uint8_t> SignatureDer(PKCS7* Signature) {
  unsigned char* Encoded = nullptr;
  const int Length = i2d_PKCS7(Signature, &Encoded);
  if (Length <= 0) return {};
  std::vector<std::uint8_t> Result(Encoded, Encoded + Length);
  OPENSSL_free(Encoded);
  return Result;
}
