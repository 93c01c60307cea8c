#include "authenticode/Pkcs7Parts.h"

#include <openssl/objects.h>

#include <ctime>
#include <limits>

TPkcs7 ParsePkcs7(std::span<const std::uint8_t> Der) {
  if (Der.size() > static_cast<std::size_t>(std::numeric_limits<long>::max())) return nullptr;
  const unsigned char* Data = Der.data();
  return TPkcs7(d2i_PKCS7(nullptr, &Data, static_cast<long>(Der.size())));
}

TPkcs7 ParsePkcs7(const ASN1_TYPE* Value) {
  if (Value == nullptr || Value->type != V_ASN1_SEQUENCE) return nullptr;
  const unsigned char* Data = Value->value.sequence->data;
  return TPkcs7(d2i_PKCS7(nullptr, &Data, Value->value.sequence->length));
}

TSignerInfo ParseCountersignature(PKCS7_SIGNER_INFO* Signer) {
  const ASN1_TYPE* Counter = PKCS7_get_attribute(Signer, NID_pkcs9_countersignature);
  if (Counter == nullptr || Counter->type != V_ASN1_SEQUENCE) return nullptr;
  const unsigned char* Data = Counter->value.sequence->data;
  return TSignerInfo(d2i_PKCS7_SIGNER_INFO(nullptr, &Data, Counter->value.sequence->length));
}

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

std::optional<std::int64_t> Seconds(const ASN1_TIME* Time) {
  std::tm Parts{};
  if (Time == nullptr || ASN1_TIME_to_tm(Time, &Parts) != 1) return std::nullopt;
  return static_cast<std::int64_t>(timegm(&Parts));
}

std::optional<std::int64_t> SigningTime(PKCS7_SIGNER_INFO* Signer) {
  const ASN1_TYPE* Time = PKCS7_get_signed_attribute(Signer, NID_pkcs9_signingTime);
  if (Time == nullptr || (Time->type != V_ASN1_UTCTIME && Time->type != V_ASN1_GENERALIZEDTIME)) return std::nullopt;
  return Seconds(Time->value.utctime);
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
  const TBio Out(BIO_new(BIO_s_mem()));
  if (!Out || X509_NAME_print_ex(Out.get(), Name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) < 0) return {};
  char* Data = nullptr;
  const long Length = BIO_get_mem_data(Out.get(), &Data);
  return Length > 0 ? std::string(Data, static_cast<std::size_t>(Length)) : std::string();
}
