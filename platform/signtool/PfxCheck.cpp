#include "PfxCheck.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>

#include <memory>

namespace {
struct TBioFree {
  void operator()(BIO* Bio) const { BIO_free(Bio); }
};
struct TPkcs12Free {
  void operator()(PKCS12* Pfx) const { PKCS12_free(Pfx); }
};

bool MacMatches(PKCS12* Pfx, const std::optional<std::string>& Password) {
  if (Password) return PKCS12_verify_mac(Pfx, Password->c_str(), static_cast<int>(Password->size())) == 1;
  // Without a password a PFX may be protected by an empty one or by none at all.
  return PKCS12_verify_mac(Pfx, nullptr, 0) == 1 || PKCS12_verify_mac(Pfx, "", 0) == 1;
}
}  // namespace

TPfxState CheckPfx(const std::string& Path, const std::optional<std::string>& Password) {
  const std::unique_ptr<BIO, TBioFree> File(BIO_new_file(Path.c_str(), "rb"));
  if (!File) return TPfxState::CannotOpen;
  const std::unique_ptr<PKCS12, TPkcs12Free> Pfx(d2i_PKCS12_bio(File.get(), nullptr));
  TPfxState State = TPfxState::Usable;
  if (!Pfx)
    State = TPfxState::NotPfx;
  else if (PKCS12_mac_present(Pfx.get()) && !MacMatches(Pfx.get(), Password))
    State = TPfxState::WrongPassword;
  ERR_clear_error();
  return State;
}
