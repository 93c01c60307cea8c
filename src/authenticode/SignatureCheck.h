#pragma once
// The verdict on one PKCS#7 signature over a file's digested bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <openssl/pkcs7.h>
#include <openssl/x509_vfy.h>

#include "authenticode/VerifySignature.h"

class TFileDigests;

struct TSignatureVerdict {
  TVerifyState State = vsUnreadable;
  std::string Reason;     // what decided the state, as the list shows it
  std::string Signer;
  std::string TimeStamp;  // ISO 8601 UTC, from a valid timestamp only
  bool WeakDigest = false;  // valid, with SHA-1
};

TSignatureVerdict CheckSignedData(PKCS7* SignedData, TFileDigests& Digests, X509_STORE* Store);

// Each check verifies a signature and a certificate chain, so a file crafted to carry thousands
// of nested signatures has only the first ones checked and the rest counted.
inline constexpr std::size_t MaxCheckedNestedSignatures = 16;

struct TNestedVerdicts {
  std::vector<TSignatureVerdict> Checked;  // in order
  std::size_t Unchecked = 0;
};

// The verdicts on the signatures nested in the primary one.
TNestedVerdicts CheckNestedSignatures(PKCS7* Primary, TFileDigests& Digests, X509_STORE* Store);
