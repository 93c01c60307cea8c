#include "support/ManySignatures.h"

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>
#include <variant>

#include "common/PeHeaders.h"

namespace {
template <auto Free>
struct TFreeWith {
  template <typename T>
  void operator()(T* Object) const { Free(Object); }
};
using TPkcs7Ptr = std::unique_ptr<PKCS7, TFreeWith<PKCS7_free>>;

std::vector<std::uint8_t> Der(PKCS7* Signature) {
  unsigned char* Bytes = nullptr;
  const int Length = i2d_PKCS7(Signature, &Bytes);
  std::vector<std::uint8_t> Result(Bytes, Bytes + std::max(Length, 0));
  OPENSSL_free(Bytes);
  return Result;
}

}  // namespace

std::vector<std::uint8_t> WithManySignatures(std::vector<std::uint8_t> Image, int Nested) {
  const auto Pe = std::get<TPeHeaders>(ReadPeHeaders(Image));
  const unsigned char* Start = Image.data() + Pe.CertOffset + 8;
  const TPkcs7Ptr Primary(d2i_PKCS7(nullptr, &Start, Pe.CertSize - 8));
  const TPkcs7Ptr Copy(PKCS7_dup(Primary.get()));
  sk_X509_pop_free(Copy->d.sign->cert, X509_free);
  Copy->d.sign->cert = nullptr;
  const std::vector<std::uint8_t> CopyDer = Der(Copy.get());

  ASN1_OBJECT* NestedType = OBJ_txt2obj("1.3.6.1.4.1.311.2.4.1", 1);
  X509_ATTRIBUTE* Attribute = X509_ATTRIBUTE_create_by_OBJ(nullptr, NestedType, V_ASN1_SEQUENCE, CopyDer.data(),
                                                           static_cast<int>(CopyDer.size()));
  for (int I = 1; I < Nested; ++I)
    X509_ATTRIBUTE_set1_data(Attribute, V_ASN1_SEQUENCE, CopyDer.data(), static_cast<int>(CopyDer.size()));
  PKCS7_SIGNER_INFO* Signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(Primary.get()), 0);
  X509at_add1_attr(&Signer->unauth_attr, Attribute);
  X509_ATTRIBUTE_free(Attribute);
  ASN1_OBJECT_free(NestedType);

  const std::vector<std::uint8_t> Signature = Der(Primary.get());
  std::vector<std::uint8_t> Table;
  const std::uint32_t Length = static_cast<std::uint32_t>(Signature.size() + 8);
  for (int Shift = 0; Shift < 32; Shift += 8) Table.push_back(static_cast<std::uint8_t>(Length >> Shift));
  Table.insert(Table.end(), {0x00, 0x02, 0x02, 0x00});  // revision 2.0, PKCS#7 signed data
  Table.insert(Table.end(), Signature.begin(), Signature.end());
  Table.resize((Table.size() + 7) & ~std::size_t{7});

  Image.resize(Pe.CertOffset);
  Image.insert(Image.end(), Table.begin(), Table.end());
  for (int Byte = 0; Byte < 4; ++Byte)
    Image[*Pe.CertEntryPos + 4 + Byte] = static_cast<std::uint8_t>(Table.size() >> (8 * Byte));
  return Image;
}

