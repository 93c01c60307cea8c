#include "authenticode/TimestampRequest.h"

#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/ts.h>

#include <limits>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "common/OpenSslPtr.h"

namespace {
using TTsRequest = std::unique_ptr<TS_REQ, TOpenSslFree<TS_REQ_free>>;
using TImprint = std::unique_ptr<TS_MSG_IMPRINT, TOpenSslFree<TS_MSG_IMPRINT_free>>;
using TAlgorithm = std::unique_ptr<X509_ALGOR, TOpenSslFree<X509_ALGOR_free>>;
using TInteger = std::unique_ptr<ASN1_INTEGER, TOpenSslFree<ASN1_INTEGER_free>>;

void Require(bool Done) {
  if (!Done) throw std::runtime_error("cannot build the timestamp request");
}

// One DER element with a definite length.
std::string Der(std::uint8_t Tag, std::string_view Content) {
  std::string Length;
  if (Content.size() < 0x80) {
    Length.push_back(static_cast<char>(Content.size()));
  } else {
    for (std::size_t Rest = Content.size(); Rest != 0; Rest >>= 8) Length.insert(Length.begin(), static_cast<char>(Rest & 0xFF));
    Length.insert(Length.begin(), static_cast<char>(0x80 | Length.size()));
  }
  return static_cast<char>(Tag) + Length + std::string(Content);
}

std::string Base64Lines(std::string_view Bytes) {
  std::unique_ptr<EVP_ENCODE_CTX, TOpenSslFree<EVP_ENCODE_CTX_free>> Context(EVP_ENCODE_CTX_new());
  Require(Context != nullptr && Bytes.size() < static_cast<std::size_t>(std::numeric_limits<int>::max() / 2));
  std::string Text(Bytes.size() * 2 + 80, '\0');
  auto* Out = reinterpret_cast<unsigned char*>(Text.data());
  int Written = 0, Final = 0;
  EVP_EncodeInit(Context.get());
  Require(EVP_EncodeUpdate(Context.get(), Out, &Written, reinterpret_cast<const unsigned char*>(Bytes.data()),
                           static_cast<int>(Bytes.size())) == 1);
  EVP_EncodeFinal(Context.get(), Out + Written, &Final);
  Text.resize(static_cast<std::size_t>(Written + Final));
  return Text;
}
}  // namespace

TTimestampRequest MakeRfc3161Request(std::span<const std::uint8_t> SignatureValue, const EVP_MD* Digest) {
  TTimestampRequest Request;
  Request.Protocol = TTimestampProtocol::Rfc3161;
  Request.ContentType = "application/timestamp-query";
  Request.ImprintAlgorithm = EVP_MD_get_type(Digest);
  Request.Imprint.resize(static_cast<std::size_t>(EVP_MD_get_size(Digest)));
  unsigned int ImprintLength = 0;
  Require(EVP_Digest(SignatureValue.data(), SignatureValue.size(), Request.Imprint.data(), &ImprintLength, Digest,
                     nullptr) == 1);
  Request.Imprint.resize(ImprintLength);
  Require(RAND_bytes(reinterpret_cast<unsigned char*>(&Request.Nonce), sizeof Request.Nonce) == 1);

  const TTsRequest Query(TS_REQ_new());
  const TImprint Imprint(TS_MSG_IMPRINT_new());
  TAlgorithm Algorithm(X509_ALGOR_new());
  const TInteger Nonce(ASN1_INTEGER_new());
  Require(Query && Imprint && Algorithm && Nonce);
  Require(X509_ALGOR_set0(Algorithm.get(), OBJ_nid2obj(Request.ImprintAlgorithm), V_ASN1_NULL, nullptr) == 1);
  Require(TS_MSG_IMPRINT_set_algo(Imprint.get(), Algorithm.get()) == 1 &&
          TS_MSG_IMPRINT_set_msg(Imprint.get(), Request.Imprint.data(), static_cast<int>(Request.Imprint.size())) == 1);
  Require(ASN1_INTEGER_set_uint64(Nonce.get(), Request.Nonce) == 1);
  Require(TS_REQ_set_version(Query.get(), 1) == 1 && TS_REQ_set_msg_imprint(Query.get(), Imprint.get()) == 1 &&
          TS_REQ_set_nonce(Query.get(), Nonce.get()) == 1 && TS_REQ_set_cert_req(Query.get(), 1) == 1);
  unsigned char* Encoded = nullptr;
  const int Length = i2d_TS_REQ(Query.get(), &Encoded);
  Require(Length > 0);
  Request.Body.assign(reinterpret_cast<const char*>(Encoded), static_cast<std::size_t>(Length));
  OPENSSL_free(Encoded);
  return Request;
}

TTimestampRequest MakeAuthenticodeRequest(std::span<const std::uint8_t> SignatureValue) {
  // SEQUENCE { 1.3.6.1.4.1.311.3.2.1, SEQUENCE { pkcs7-data, [0] { OCTET STRING value } } }
  static constexpr std::string_view TimeStampRequestOid("\x06\x0A\x2B\x06\x01\x04\x01\x82\x37\x03\x02\x01", 12);
  static constexpr std::string_view Pkcs7DataOid("\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07\x01", 11);
  const std::string_view Value(reinterpret_cast<const char*>(SignatureValue.data()), SignatureValue.size());
  const std::string Blob = Der(0x30, std::string(Pkcs7DataOid) + Der(0xA0, Der(0x04, Value)));
  TTimestampRequest Request;
  Request.Protocol = TTimestampProtocol::Authenticode;
  Request.ContentType = "application/octet-stream";
  Request.Body = Base64Lines(Der(0x30, std::string(TimeStampRequestOid) + Blob));
  Request.Imprint.assign(SignatureValue.begin(), SignatureValue.end());
  return Request;
}
