#include "support/ServiceKey.h"

#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <stdexcept>

#include "common/OpenSslPtr.h"

struct TServiceKey::TParts {
  std::unique_ptr<EVP_PKEY, TOpenSslFree<EVP_PKEY_free>> Key;
  std::vector<TX509> Chain;
};

namespace {
TBio OpenFile(const std::string& Path) {
  TBio File(BIO_new_file(Path.c_str(), "r"));
  if (!File) throw std::runtime_error("cannot open " + Path);
  return File;
}

template <typename T, int (*Encode)(const T*, unsigned char**)>
TBytes Der(const T* Object) {
  unsigned char* Data = nullptr;
  const int Length = Encode(Object, &Data);
  if (Length <= 0) throw std::runtime_error("cannot encode DER");
  TBytes Bytes(Data, Data + Length);
  OPENSSL_free(Data);
  return Bytes;
}
}  // namespace

TServiceKey::TServiceKey(const std::string& KeyPath, const std::vector<std::string>& ChainPaths)
    : Parts(std::make_unique<TParts>()) {
  Parts->Key.reset(PEM_read_bio_PrivateKey(OpenFile(KeyPath).get(), nullptr, nullptr, nullptr));
  if (!Parts->Key) throw std::runtime_error("cannot read the key " + KeyPath);
  for (const std::string& Path : ChainPaths) {
    Parts->Chain.emplace_back(PEM_read_bio_X509(OpenFile(Path).get(), nullptr, nullptr, nullptr));
    if (!Parts->Chain.back()) throw std::runtime_error("cannot read the certificate " + Path);
  }
}

TServiceKey::~TServiceKey() = default;

bool TServiceKey::IsRsa() const { return EVP_PKEY_is_a(Parts->Key.get(), "RSA") == 1; }

TBytes TServiceKey::SignDigest(const TBytes& Digest, const EVP_MD* Md) const {
  if (Digest.size() != static_cast<std::size_t>(EVP_MD_get_size(Md))) return {};
  std::unique_ptr<EVP_PKEY_CTX, TOpenSslFree<EVP_PKEY_CTX_free>> Context(EVP_PKEY_CTX_new(Parts->Key.get(), nullptr));
  std::size_t Size = 0;
  if (!Context || EVP_PKEY_sign_init(Context.get()) != 1 || EVP_PKEY_CTX_set_signature_md(Context.get(), Md) != 1 ||
      (IsRsa() && EVP_PKEY_CTX_set_rsa_padding(Context.get(), RSA_PKCS1_PADDING) != 1) ||
      EVP_PKEY_sign(Context.get(), nullptr, &Size, Digest.data(), Digest.size()) != 1)
    throw std::runtime_error("cannot sign with the service's key");
  TBytes Signature(Size);
  if (EVP_PKEY_sign(Context.get(), Signature.data(), &Size, Digest.data(), Digest.size()) != 1)
    throw std::runtime_error("cannot sign with the service's key");
  Signature.resize(Size);
  return Signature;
}

TBytes TServiceKey::PublicKeyDer() const { return Der<EVP_PKEY, i2d_PUBKEY>(Parts->Key.get()); }

TBytes TServiceKey::CertificateDer() const { return Der<X509, i2d_X509>(Parts->Chain.front().get()); }

TBytes TServiceKey::ChainPkcs7Der() const {
  TPkcs7 Bundle(PKCS7_new());
  if (!Bundle || PKCS7_set_type(Bundle.get(), NID_pkcs7_signed) != 1 ||
      PKCS7_content_new(Bundle.get(), NID_pkcs7_data) != 1)
    throw std::runtime_error("cannot make a PKCS#7 bundle");
  for (const TX509& Certificate : Parts->Chain)
    if (PKCS7_add_certificate(Bundle.get(), Certificate.get()) != 1) throw std::runtime_error("cannot bundle a certificate");
  return Der<PKCS7, i2d_PKCS7>(Bundle.get());
}
