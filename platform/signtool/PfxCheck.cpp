#include "PfxCheck.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <memory>

namespace {
struct TBioFree {
  void operator()(BIO* Bio) const { BIO_free(Bio); }
};
struct TPkcs12Free {
  void operator()(PKCS12* Pfx) const { PKCS12_free(Pfx); }
};
}  // namespace

TPfxState CheckPfx(const std::string& Path, const std::optional<std::string>& Password) {
  const std::unique_ptr<BIO, TBioFree> File(BIO_new_file(Path.c_str(), "rb"));
  if (!File) return TPfxState::CannotOpen;
  const std::unique_ptr<PKCS12, TPkcs12Free> Pfx(d2i_PKCS12_bio(File.get(), nullptr));
  ERR_clear_error();
  if (!Pfx) return TPfxState::NotPfx;
  const char* Secret = Password ? Password->c_str() : nullptr;
  // Without a password a PFX may be protected by an empty one or by none at all.
  if (PKCS12_mac_present(Pfx.get()) && !PKCS12_verify_mac(Pfx.get(), Secret, -1) &&
      (Password || !PKCS12_verify_mac(Pfx.get(), "", 0))) {
    ERR_clear_error();
    return TPfxState::WrongPassword;
  }
  EVP_PKEY* Key = nullptr;
  X509* Certificate = nullptr;
  const bool Parsed = PKCS12_parse(Pfx.get(), Secret, &Key, &Certificate, nullptr) == 1;
  ERR_clear_error();
  const bool Complete = Parsed && Key && Certificate;
  EVP_PKEY_free(Key);
  X509_free(Certificate);
  return Complete ? TPfxState::Usable : TPfxState::NoKeyOrCertificate;
}
