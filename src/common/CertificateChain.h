#pragma once
// Whether a certificate's chain reaches a trusted root, and whether it may be used for code
// signing or time-stamping.
#include <cstdint>
#include <optional>

#include <openssl/x509_vfy.h>

enum class TChainVerdict {
  Trusted,
  Expired,   // would be trusted but for a certificate outside its validity at the time checked
  Untrusted  // no trusted root, a broken certificate signature, or a misused CA
};

// Checked at the given time (seconds since 1970 UTC), else now. Intermediates may be null.
TChainVerdict CheckChain(X509_STORE* Store, X509* Leaf, STACK_OF(X509)* Intermediates,
                         std::optional<std::int64_t> At);

// The certificate names the purpose in its extended key usage, and its key usage (if any)
// allows digital signatures.
bool IsForCodeSigning(X509* Certificate);
bool IsForTimeStamping(X509* Certificate);
