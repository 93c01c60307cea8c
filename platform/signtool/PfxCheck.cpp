#include "PfxCheck.h"

#include <dlfcn.h>
#include <openssl/bio.h>
#include <openssl/pkcs12.h>

namespace {
// libcrypto is needed only to explain a failure, so it is loaded then rather than at every start.
struct TCrypto {
  decltype(&BIO_new_file) BioNewFile = nullptr;
  decltype(&BIO_free) BioFree = nullptr;
  decltype(&d2i_PKCS12_bio) ReadPkcs12 = nullptr;
  decltype(&PKCS12_free) Pkcs12Free = nullptr;
  decltype(&PKCS12_mac_present) MacPresent = nullptr;
  decltype(&PKCS12_verify_mac) VerifyMac = nullptr;

  static const TCrypto* Load() {
    static const TCrypto Crypto = [] {
      TCrypto Loaded;
      void* Library = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
      if (!Library) return Loaded;
      Find(Library, "BIO_new_file", Loaded.BioNewFile);
      Find(Library, "BIO_free", Loaded.BioFree);
      Find(Library, "d2i_PKCS12_bio", Loaded.ReadPkcs12);
      Find(Library, "PKCS12_free", Loaded.Pkcs12Free);
      Find(Library, "PKCS12_mac_present", Loaded.MacPresent);
      Find(Library, "PKCS12_verify_mac", Loaded.VerifyMac);
      return Loaded;
    }();
    const bool Complete = Crypto.BioNewFile && Crypto.BioFree && Crypto.ReadPkcs12 && Crypto.Pkcs12Free &&
                          Crypto.MacPresent && Crypto.VerifyMac;
    return Complete ? &Crypto : nullptr;
  }

 private:
  template <typename TFunction>
  static void Find(void* Library, const char* Name, TFunction& Function) {
    Function = reinterpret_cast<TFunction>(::dlsym(Library, Name));
  }
};

bool MacMatches(const TCrypto& Crypto, PKCS12* Pfx, const std::optional<std::string>& Password) {
  if (Password) return Crypto.VerifyMac(Pfx, Password->c_str(), static_cast<int>(Password->size())) == 1;
  // Without a password a PFX may be protected by an empty one or by none at all.
  return Crypto.VerifyMac(Pfx, nullptr, 0) == 1 || Crypto.VerifyMac(Pfx, "", 0) == 1;
}
}  // namespace

TPfxState CheckPfx(const std::string& Path, const std::optional<std::string>& Password) {
  const TCrypto* Crypto = TCrypto::Load();
  if (!Crypto) return TPfxState::Unknown;
  BIO* File = Crypto->BioNewFile(Path.c_str(), "rb");
  if (!File) return TPfxState::CannotOpen;
  PKCS12* Pfx = Crypto->ReadPkcs12(File, nullptr);
  TPfxState State = TPfxState::Usable;
  if (!Pfx)
    State = TPfxState::NotPfx;
  else if (Crypto->MacPresent(Pfx) && !MacMatches(*Crypto, Pfx, Password))
    State = TPfxState::WrongPassword;
  Crypto->Pkcs12Free(Pfx);
  Crypto->BioFree(File);
  return State;
}
