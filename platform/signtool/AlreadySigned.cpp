#include "AlreadySigned.h"

#include <fcntl.h>
#include <openssl/pkcs7.h>
#include <sys/stat.h>

#include "common/Descriptor.h"
#include "authenticode/Pkcs7Parts.h"
#include "authenticode/SignedContainer.h"
#include "authenticode/VerifySignature.h"

namespace {
bool CarriesTimestamp(PKCS7_SIGNER_INFO* Signer) {
  return !UnsignedAttributeValues(Signer, "1.3.6.1.4.1.311.3.3.1").empty() ||
         PKCS7_get_attribute(Signer, NID_pkcs9_countersignature) != nullptr;
}

// Whether the primary signer of the file's signature is Signer, signing with Md, and carries a
// timestamp when one is wanted.
bool SignedBy(const std::string& File, X509* Signer, const EVP_MD* Md, bool WantsTimestamp) {
  const TDescriptor Fd(::open(File.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat Info {};
  if (Fd.Get() < 0 || ::fstat(Fd.Get(), &Info) != 0 || !S_ISREG(Info.st_mode)) return false;
  const std::optional<TSignedContainer> Container = LocateSignature(Fd.Get(), static_cast<std::uint64_t>(Info.st_size));
  if (!Container || Container->Slot != TSignatureSlot::Present) return false;
  const TPkcs7 Signature = ParsePkcs7(Container->SignedData);
  if (!Signature || !PKCS7_type_is_signed(Signature.get())) return false;
  PKCS7_SIGNER_INFO* Info0 = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(Signature.get()), 0);
  if (!Info0 || !Info0->issuer_and_serial || !Info0->digest_alg) return false;
  if (WantsTimestamp && !CarriesTimestamp(Info0)) return false;
  return X509_NAME_cmp(Info0->issuer_and_serial->issuer, X509_get_issuer_name(Signer)) == 0 &&
         ASN1_INTEGER_cmp(Info0->issuer_and_serial->serial, X509_get0_serialNumber(Signer)) == 0 &&
         OBJ_obj2nid(Info0->digest_alg->algorithm) == EVP_MD_get_type(Md);
}
}  // namespace

bool AlreadySigned(const std::string& File, X509* Signer, const EVP_MD* Md, bool WantsTimestamp) {
  if (!SignedBy(File, Signer, Md, WantsTimestamp)) return false;
  const TVerifyState State = VerifySignature(File).State;
  return State == vsValid || State == vsValidNoTimestamp || State == vsUntrusted;
}
