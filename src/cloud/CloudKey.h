#pragma once
// What every key in a key service shares: the certificate and its chain, held from the opening
// on, the link to the service, and a check of each signature the service returns against the
// certificate's public key, so that an answer that is no signature by this key never reaches a
// file.
#include <memory>
#include <string>
#include <vector>

#include "authenticode/SigningKey.h"
#include "cloud/CloudCall.h"
#include "common/OpenSslPtr.h"

class TCloudKey : public TSigningKey {
 public:
  X509* Certificate() const override { return Certificates.front().get(); }
  std::vector<X509*> Chain() const override;
  // A service signs for many callers at once; the pace and the retries keep it polite.
  bool SignsConcurrently() const override { return true; }

 protected:
  // Certificates: the signer's first. Pace: the one Link points to, kept as long as the key.
  TCloudKey(std::string Service, std::vector<TX509> Certificates, std::shared_ptr<THostPace> Pace, TCloudLink Link);

  // Signature as the key's result, when it verifies over Digest; else a Malformed failure.
  TKeySignature Verified(std::vector<std::uint8_t> Signature, std::span<const std::uint8_t> Digest, const EVP_MD* Md) const;
  // The signature in the answer's JSON member Field (base64), Verified; else the answer's failure
  // or a Malformed one.
  TKeySignature SignatureIn(const TCloudAnswer& Answer, const char* Field, std::span<const std::uint8_t> Digest,
                            const EVP_MD* Md) const;
  // The failure in a user's words, as the key's result.
  TKeySignature Failed(const TCloudFailure& Failure) const;

  const std::string Service;  // its name, for messages
  const TCloudLink Link;

 private:
  std::vector<TX509> Certificates;
  std::shared_ptr<THostPace> Pace;
};

// Puts the certificate whose public key is PublicKey first; false when none has it.
bool PutSignerFirst(std::vector<TX509>& Certificates, EVP_PKEY* PublicKey);
