#pragma once
// A signing key as the Authenticode code sees it: a certificate, the certificates that came with
// it, and a way to sign a digest. Where the private key lives (a PFX, a token, a remote service)
// stays behind this interface.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct TKeySignature {
  std::vector<std::uint8_t> Value;  // empty when the key failed
  std::string Error;                // why, when it failed
};

class TSigningKey {
 public:
  virtual ~TSigningKey() = default;

  // The signer's certificate; lives as long as the key.
  virtual X509* Certificate() const = 0;
  // The further certificates that came with the key (its issuers), in any order.
  virtual std::vector<X509*> Chain() const = 0;
  // The signature over Digest, a hash made with Md, in the form a PKCS#7 signer info holds it:
  // PKCS#1 v1.5 for RSA, a DER ECDSA-Sig-Value for EC keys.
  virtual TKeySignature SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) = 0;
  // Whether SignDigest may run on several threads at once, as a key in a remote service may; a
  // token's key signs one digest at a time.
  virtual bool SignsConcurrently() const { return false; }
};
