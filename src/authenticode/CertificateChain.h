#pragma once
// Whether a certificate's chain reaches a trusted root, and whether it may be used for code
// signing or time-stamping.
#include <cstdint>
#include <optional>

#include <openssl/x509_vfy.h>

enum class TChainVerdict {
  Trusted,
  Expired,   // would be trusted but for a certificate outside its validity at the time checked
  Untrusted,   // no trusted root, a broken certificate signature, or a misused CA
  WrongPurpose // trusted, but an intermediate CA's extended key usage excludes the purpose
};

enum class TCertificatePurpose { CodeSigning, TimeStamping };

// Checked at the given time (seconds since 1970 UTC), else now. Intermediates may be null. The
// purpose must hold along the chain: an intermediate CA with an extended key usage must name it.
TChainVerdict CheckChain(X509_STORE* Store, X509* Leaf, STACK_OF(X509)* Intermediates,
                         std::optional<std::int64_t> At, TCertificatePurpose Purpose);

// The leaf may be used for code signing: its extended key usage, if it has one, names it (none
// means any purpose), and its key usage, if any, allows digital signatures.
bool IsForCodeSigning(X509* Certificate);
// A time-stamping certificate must name the purpose in its extended key usage.
bool IsForTimeStamping(X509* Certificate);
