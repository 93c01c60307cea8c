#include "authenticode/CertificateChain.h"

#include <openssl/x509v3.h>

#include <ctime>

#include "common/OpenSslPtr.h"

namespace {
std::uint32_t ExtendedUsageOf(TCertificatePurpose Purpose) {
  return Purpose == TCertificatePurpose::CodeSigning ? XKU_CODE_SIGN : XKU_TIMESTAMP;
}

// Without the extension a certificate is not restricted.
bool AllowsUsage(X509* Certificate, std::uint32_t ExtendedUsage) {
  return (X509_get_extension_flags(Certificate) & EXFLAG_XKUSAGE) == 0 ||
         (X509_get_extended_key_usage(Certificate) & (ExtendedUsage | XKU_ANYEKU)) != 0;
}

// The CAs between the leaf and the trust anchor, whose usage the root store does not decide.
bool IntermediatesAllow(X509_STORE_CTX* Context, TCertificatePurpose Purpose) {
  STACK_OF(X509)* Chain = X509_STORE_CTX_get0_chain(Context);
  const int Count = sk_X509_num(Chain);
  for (int I = 1; I + 1 < Count; ++I)
    if (!AllowsUsage(sk_X509_value(Chain, I), ExtendedUsageOf(Purpose))) return false;
  return true;
}

constexpr int WrongPurposeError = X509_V_ERR_INVALID_PURPOSE;

int VerifyError(X509_STORE* Store, X509* Leaf, STACK_OF(X509)* Intermediates,
                std::optional<std::int64_t> At, TCertificatePurpose Purpose, unsigned long Flags) {
  const TX509StoreCtx Context(X509_STORE_CTX_new());
  if (!Context || X509_STORE_CTX_init(Context.get(), Store, Leaf, Intermediates) != 1) return X509_V_ERR_UNSPECIFIED;
  // A time to check at would override the flag that skips the time checks.
  if (At && (Flags & X509_V_FLAG_NO_CHECK_TIME) == 0)
    X509_STORE_CTX_set_time(Context.get(), 0, static_cast<time_t>(*At));
  if (Flags != 0) X509_STORE_CTX_set_flags(Context.get(), Flags);
  if (X509_verify_cert(Context.get()) != 1) return X509_STORE_CTX_get_error(Context.get());
  return IntermediatesAllow(Context.get(), Purpose) ? X509_V_OK : WrongPurposeError;
}

bool AllowsDigitalSignatures(X509* Certificate) {
  return (X509_get_key_usage(Certificate) & KU_DIGITAL_SIGNATURE) != 0;
}
}  // namespace

TChainVerdict CheckChain(X509_STORE* Store, X509* Leaf, STACK_OF(X509)* Intermediates,
                         std::optional<std::int64_t> At, TCertificatePurpose Purpose) {
  const int Error = VerifyError(Store, Leaf, Intermediates, At, Purpose, 0);
  if (Error == X509_V_OK) return TChainVerdict::Trusted;
  if (Error == WrongPurposeError) return TChainVerdict::WrongPurpose;
  // An untrusted chain is reported as such even when it has expired as well.
  if (Error != X509_V_ERR_CERT_HAS_EXPIRED) return TChainVerdict::Untrusted;
  switch (VerifyError(Store, Leaf, Intermediates, At, Purpose, X509_V_FLAG_NO_CHECK_TIME)) {
    case X509_V_OK: return TChainVerdict::Expired;
    case WrongPurposeError: return TChainVerdict::WrongPurpose;
    default: return TChainVerdict::Untrusted;
  }
}

bool IsForCodeSigning(X509* Certificate) {
  return AllowsUsage(Certificate, XKU_CODE_SIGN) && AllowsDigitalSignatures(Certificate);
}

bool IsForTimeStamping(X509* Certificate) {
  return (X509_get_extension_flags(Certificate) & EXFLAG_XKUSAGE) != 0 &&
         (X509_get_extended_key_usage(Certificate) & XKU_TIMESTAMP) != 0 && AllowsDigitalSignatures(Certificate);
}
