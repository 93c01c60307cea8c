#include "Crypto.h"

#include <dlfcn.h>

namespace {
template <typename TFunction>
bool Find(void* Library, const char* Name, TFunction& Function) {
  Function = reinterpret_cast<TFunction>(::dlsym(Library, Name));
  return Function != nullptr;
}
}  // namespace

const TCrypto* LoadCrypto() {
  static const TCrypto* const Loaded = []() -> const TCrypto* {
    static TCrypto Crypto;
    void* Library = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
    if (!Library) return nullptr;
    const bool Complete =
        Find(Library, "BIO_new_file", Crypto.BioNewFile) && Find(Library, "BIO_free", Crypto.BioFree) &&
        Find(Library, "d2i_PKCS12_bio", Crypto.ReadPkcs12) && Find(Library, "i2d_PKCS12", Crypto.WritePkcs12) &&
        Find(Library, "PKCS12_free", Crypto.Pkcs12Free) && Find(Library, "PKCS12_mac_present", Crypto.MacPresent) &&
        Find(Library, "PKCS12_verify_mac", Crypto.VerifyMac) && Find(Library, "PKCS12_parse", Crypto.ParsePkcs12) &&
        Find(Library, "PKCS12_create", Crypto.CreatePkcs12) && Find(Library, "EVP_PKEY_free", Crypto.KeyFree) &&
        Find(Library, "X509_free", Crypto.CertificateFree) &&
        Find(Library, "OPENSSL_sk_pop_free", Crypto.StackPopFree) && Find(Library, "CRYPTO_free", Crypto.Free) &&
        Find(Library, "PKCS5_PBKDF2_HMAC", Crypto.Pbkdf2) && Find(Library, "EVP_sha256", Crypto.Sha256);
    return Complete ? &Crypto : nullptr;
  }();
  return Loaded;
}
