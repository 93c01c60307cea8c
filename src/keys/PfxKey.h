#pragma once
// A key held in a PFX (PKCS#12) file: decoded once, then used for as many signatures as asked.
#include <memory>
#include <optional>
#include <string>

#include "authenticode/SigningKey.h"
#include "common/OpenSslPtr.h"

inline void FreeCertificateList(STACK_OF(X509)* List) { sk_X509_pop_free(List, X509_free); }

class TPfxKey final : public TSigningKey {
 public:
  using TKey = std::unique_ptr<EVP_PKEY, TOpenSslFree<EVP_PKEY_free>>;
  using TCertificate = std::unique_ptr<X509, TOpenSslFree<X509_free>>;
  using TCertificates = std::unique_ptr<STACK_OF(X509), TOpenSslFree<FreeCertificateList>>;

  TPfxKey(TKey Key, TCertificate Certificate, TCertificates Chain);

  X509* Certificate() const override { return Cert.get(); }
  std::vector<X509*> Chain() const override;
  TKeySignature SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) override;

 private:
  TKey Key;
  TCertificate Cert;
  TCertificates Others;
};

enum class TPfxFailure {
  None,
  CannotOpen,     // missing, unreadable, or no regular file
  NotPfx,         // not a PKCS#12 file, or one without a key and its certificate
  Undecodable,    // the password fits, but its content cannot be decrypted (an algorithm OpenSSL lacks)
  WrongPassword
};

struct TPfxOpenResult {
  std::unique_ptr<TPfxKey> Key;  // empty on failure
  TPfxFailure Failure = TPfxFailure::None;
  std::string Message;  // English, for "SignTool Error: "
};

// Without a password, a PFX protected by an empty password or by none at all opens.
TPfxOpenResult OpenPfx(const std::string& Path, const std::optional<std::string>& Password);
