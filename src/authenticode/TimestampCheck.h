#pragma once
// The timestamp that vouches for when a signer signed: an Authenticode countersignature or an
// RFC 3161 token among the signer's unsigned attributes.
#include <cstdint>
#include <optional>

#include <openssl/pkcs7.h>
#include <openssl/x509_vfy.h>

struct TTimestampCheck {
  bool Present = false;
  // Set only for a timestamp whose signature, imprint and time-stamping chain all hold.
  std::optional<std::int64_t> Time;
  // A timestamp whose signature and imprint hold, but whose issuer is not trusted.
  bool IssuerUntrusted = false;
};

// SignedData is the signature Signer belongs to; its certificates serve the countersignature.
TTimestampCheck CheckTimestamp(PKCS7* SignedData, PKCS7_SIGNER_INFO* Signer, X509_STORE* Store);
