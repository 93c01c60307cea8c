#include "PfxCheck.h"

#include "Crypto.h"

namespace {
bool MacMatches(const TCrypto& Crypto, PKCS12* Pfx, const std::optional<std::string>& Password) {
  if (Password) return Crypto.VerifyMac(Pfx, Password->c_str(), static_cast<int>(Password->size())) == 1;
  // Without a password a PFX may be protected by an empty one or by none at all.
  return Crypto.VerifyMac(Pfx, nullptr, 0) == 1 || Crypto.VerifyMac(Pfx, "", 0) == 1;
}

PKCS12* ReadPfx(const TCrypto& Crypto, const std::string& Path) {
  BIO* File = Crypto.BioNewFile(Path.c_str(), "rb");
  if (!File) return nullptr;
  PKCS12* Pfx = Crypto.ReadPkcs12(File, nullptr);
  Crypto.BioFree(File);
  return Pfx;
}
}  // namespace

TPfxState CheckPfx(const std::string& Path, const std::optional<std::string>& Password) {
  const TCrypto* Crypto = LoadCrypto();
  if (!Crypto) return TPfxState::Unknown;
  BIO* File = Crypto->BioNewFile(Path.c_str(), "rb");
  if (!File) return TPfxState::CannotOpen;
  Crypto->BioFree(File);
  PKCS12* Pfx = ReadPfx(*Crypto, Path);
  TPfxState State = TPfxState::Usable;
  if (!Pfx)
    State = TPfxState::NotPfx;
  else if (Crypto->MacPresent(Pfx) && !MacMatches(*Crypto, Pfx, Password))
    State = TPfxState::WrongPassword;
  Crypto->Pkcs12Free(Pfx);
  return State;
}

std::optional<std::string> UnprotectedPfx(const std::string& Path, const std::string& Password) {
  const TCrypto* Crypto = LoadCrypto();
  if (!Crypto) return std::nullopt;
  PKCS12* Pfx = ReadPfx(*Crypto, Path);
  if (!Pfx) return std::nullopt;
  EVP_PKEY* Key = nullptr;
  X509* Certificate = nullptr;
  STACK_OF(X509)* Chain = nullptr;
  const bool Parsed = Crypto->ParsePkcs12(Pfx, Password.c_str(), &Key, &Certificate, &Chain) == 1;
  Crypto->Pkcs12Free(Pfx);
  std::optional<std::string> Result;
  if (Parsed && Key && Certificate) {
    // No encryption and no MAC: the copy only ever travels through a pipe.
    PKCS12* Copy = Crypto->CreatePkcs12(nullptr, nullptr, Key, Certificate, Chain, -1, -1, 0, -1, 0);
    unsigned char* Bytes = nullptr;
    const int Size = Copy ? Crypto->WritePkcs12(Copy, &Bytes) : -1;
    if (Size > 0) Result = std::string(reinterpret_cast<const char*>(Bytes), static_cast<std::size_t>(Size));
    Crypto->Free(Bytes, __FILE__, __LINE__);
    Crypto->Pkcs12Free(Copy);
  }
  Crypto->KeyFree(Key);
  Crypto->CertificateFree(Certificate);
  Crypto->StackPopFree(reinterpret_cast<OPENSSL_STACK*>(Chain), reinterpret_cast<void (*)(void*)>(Crypto->CertificateFree));
  return Result;
}
