#pragma once
// A test PKI key as a loopback key service holds it: it signs digests it is sent, and hands out its
// public key and its certificate chain in the forms services use.
#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using TBytes = std::vector<std::uint8_t>;

class TServiceKey {
 public:
  // PEM files; the chain is the signer's certificate and then its issuers. Throws
  // std::runtime_error when one cannot be read.
  TServiceKey(const std::string& KeyPath, const std::vector<std::string>& ChainPaths);
  ~TServiceKey();
  TServiceKey(const TServiceKey&) = delete;
  TServiceKey& operator=(const TServiceKey&) = delete;

  bool IsRsa() const;
  // Digest signed as made with Md: PKCS#1 v1.5 for RSA, a DER ECDSA-Sig-Value for EC. Empty when
  // the digest's length does not fit Md.
  TBytes SignDigest(const TBytes& Digest, const EVP_MD* Md) const;
  TBytes PublicKeyDer() const;         // SubjectPublicKeyInfo
  TBytes CertificateDer() const;       // the signer's
  TBytes ChainPkcs7Der() const;        // a certs-only PKCS#7 of the whole chain

 private:
  struct TParts;
  std::unique_ptr<TParts> Parts;
};
