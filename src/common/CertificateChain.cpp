#include "common/CertificateChain.h"

#include <openssl/x509v3.h>

#include <ctime>

#include "common/OpenSslPtr.h"

namespace {
int VerifyError(X509_STORE* Store, X509* Leaf, STACK_OF(X509)* Intermediates,
                std::optional<std::int64_t> At, unsigned long Flags) {
  const TX509StoreCtx Context(X509_STORE_CTX_new());
  if (!Context || X509_STORE_CTX_init(Context.get(), Store, Leaf, Intermediates) != 1) return X509_V_ERR_UNSPECIFIED;
  // A time to check at would override the flag that skips the time checks.
  if (At && (Flags & X509_V_FLAG_NO_CHECK_TIME) == 0)
    X509_STORE_CTX_set_time(Context.get(), 0, static_cast<time_t>(*At));
  if (Flags != 0) X509_STORE_CTX_set_flags(Context.get(), Flags);
  return X509_verify_cert(Context.get()) == 1 ? X509_V_OK : X509_STORE_CTX_get_error(Context.get());
}

bool HasPurpose(X509* Certificate, std::uint32_t ExtendedUsage) {
  return (X509_get_extension_flags(Certificate) & EXFLAG_XKUSAGE) != 0 &&
         (X509_get_extended_key_usage(Certificate) & ExtendedUsage) != 0 &&
         (X509_get_key_usage(Certificate) & KU_DIGITAL_SIGNATURE) != 0;
}
}  // namespace

TChainVerdict CheckChain(X509_STORE* Store, X509* Leaf, STACK_OF(X509)* Intermediates,
                         std::optional<std::int64_t> At) {
  const int Error = VerifyError(Store, Leaf, Intermediates, At, 0);
  if (Error == X509_V_OK) return TChainVerdict::Trusted;
  // An untrusted chain is reported as such even when it has expired as well.
  if (Error != X509_V_ERR_CERT_HAS_EXPIRED) return TChainVerdict::Untrusted;
  return VerifyError(Store, Leaf, Intermediates, At, X509_V_FLAG_NO_CHECK_TIME) == X509_V_OK
             ? TChainVerdict::Expired
             : TChainVerdict::Untrusted;
}

bool IsForCodeSigning(X509* Certificate) { return HasPurpose(Certificate, XKU_CODE_SIGN); }

bool IsForTimeStamping(X509* Certificate) { return HasPurpose(Certificate, XKU_TIMESTAMP); }
