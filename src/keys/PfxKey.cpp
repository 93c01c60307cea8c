#include "keys/PfxKey.h"

#include <openssl/pkcs12.h>

#include <cstring>

#include "common/FileReader.h"

namespace {
using TPkcs12 = std::unique_ptr<PKCS12, TOpenSslFree<PKCS12_free>>;
using TKeyContext = std::unique_ptr<EVP_PKEY_CTX, TOpenSslFree<EVP_PKEY_CTX_free>>;

// Real PFX files hold a key and a few certificates.
constexpr std::uint64_t MaxPfxSize = std::uint64_t{16} << 20;

TPfxOpenResult Failed(TPfxFailure Failure, std::string Message) { return {nullptr, Failure, std::move(Message)}; }

// The passwords to try: the one given, or else none and the empty one.
std::vector<const char*> Passwords(const std::optional<std::string>& Password) {
  if (Password) return {Password->c_str()};
  return {nullptr, ""};
}
}  // namespace

TPfxKey::TPfxKey(TKey Key, TCertificate Certificate, TCertificates Chain)
    : Key(std::move(Key)), Cert(std::move(Certificate)), Others(std::move(Chain)) {}

std::vector<X509*> TPfxKey::Chain() const {
  std::vector<X509*> Result;
  for (int Index = 0; Others && Index < sk_X509_num(Others.get()); ++Index) Result.push_back(sk_X509_value(Others.get(), Index));
  return Result;
}

TKeySignature TPfxKey::SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) {
  const TKeyContext Context(EVP_PKEY_CTX_new(Key.get(), nullptr));
  std::size_t Length = 0;
  if (!Context || EVP_PKEY_sign_init(Context.get()) != 1 || EVP_PKEY_CTX_set_signature_md(Context.get(), Md) != 1 ||
      EVP_PKEY_sign(Context.get(), nullptr, &Length, Digest.data(), Digest.size()) != 1)
    return {{}, "The PFX file's key cannot sign with this digest algorithm."};
  std::vector<std::uint8_t> Value(Length);
  if (EVP_PKEY_sign(Context.get(), Value.data(), &Length, Digest.data(), Digest.size()) != 1)
    return {{}, "The PFX file's key failed to sign."};
  Value.resize(Length);
  return {std::move(Value), {}};
}

TPfxOpenResult OpenPfx(const std::string& Path, const std::optional<std::string>& Password) {
  TFileReader File;
  if (!File.Open(Path)) return Failed(TPfxFailure::CannotOpen, "The specified PFX file cannot be opened: " + Path);
  if (File.Size() > MaxPfxSize) return Failed(TPfxFailure::NotPfx, "The specified file is not a PFX file: " + Path);
  const std::optional<std::vector<std::uint8_t>> Bytes = ReadAt(File.Descriptor(), 0, File.Size());
  if (!Bytes) return Failed(TPfxFailure::CannotOpen, "The specified PFX file cannot be read: " + Path);
  const unsigned char* Der = Bytes->data();
  const TPkcs12 Pfx(d2i_PKCS12(nullptr, &Der, static_cast<long>(Bytes->size())));
  if (!Pfx) return Failed(TPfxFailure::NotPfx, "The specified file is not a PFX file: " + Path);

  for (const char* Candidate : Passwords(Password)) {
    const int Length = Candidate ? static_cast<int>(std::strlen(Candidate)) : 0;
    const bool HasMac = PKCS12_mac_present(Pfx.get()) == 1;
    if (HasMac && PKCS12_verify_mac(Pfx.get(), Candidate, Length) != 1) continue;
    EVP_PKEY* Key = nullptr;
    X509* Certificate = nullptr;
    STACK_OF(X509)* Chain = nullptr;
    if (PKCS12_parse(Pfx.get(), Candidate, &Key, &Certificate, &Chain) != 1) {
      if (!HasMac) continue;  // nothing told whether the password was right
      return Failed(TPfxFailure::Undecodable, "The specified PFX file cannot be decrypted: " + Path);
    }
    TPfxKey::TKey OwnedKey(Key);
    TPfxKey::TCertificate OwnedCertificate(Certificate);
    TPfxKey::TCertificates OwnedChain(Chain);
    if (!OwnedKey || !OwnedCertificate)
      return Failed(TPfxFailure::NotPfx, "The specified PFX file holds no private key with its certificate: " + Path);
    return {std::make_unique<TPfxKey>(std::move(OwnedKey), std::move(OwnedCertificate), std::move(OwnedChain)),
            TPfxFailure::None, {}};
  }
  return Failed(TPfxFailure::WrongPassword, "The specified PFX password is not correct.");
}
