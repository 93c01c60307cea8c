#pragma once
// A private key on a PKCS#11 token, reached through libp11. Opening it logs in to the token once;
// the key then signs any number of digests with that login, one signature at a time whichever
// thread asks. A key that demands a login before every use (CKA_ALWAYS_AUTHENTICATE) gets it from
// the PIN the key holds in memory until it is destroyed, when the PIN is wiped.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "authenticode/SigningKey.h"
#include "common/OpenSslPtr.h"
#include "common/Pkcs11Uri.h"
#include "keys/TokenCatalog.h"

struct TPkcs11KeyRequest {
  TPkcs11Uri Uri;      // the token (token, serial, manufacturer, model) and the key on it (id, object)
  std::string Module;  // the PKCS#11 module (/csp); empty: the URI's module-path, else the default one
  // Read, not kept: the key keeps its own copy. Empty for a token with a PIN pad of its own.
  std::string_view Pin;
  // The certificates of a file the caller read (/f): the one that belongs to the key is the
  // signer's, the others go with it. Empty: the token's certificate under the key's id (its
  // label when the key has no id). Not taken over: the key takes references of its own.
  std::vector<X509*> Certificates;
  // Called with the one token found, before the login; an answer that is not empty ends the
  // opening with it as the message (Refused). For a caller that keeps logins to a token apart.
  std::function<std::string(const TTokenInfo& Token)> BeforeLogin;
};

enum class TPkcs11Failure {
  None,
  ModuleNotLoaded,
  TokenNotFound,
  TokenAmbiguous,  // several present tokens fit the URI
  PinNeeded,  // the token needs a PIN and none was given
  PinLocked,
  WrongPin,
  LoginFailed,  // the token refused the login for another reason
  Refused,      // BeforeLogin said no
  KeyNotFound,
  KeyAmbiguous,  // several private keys on the token fit the URI
  KeyUnsupported,  // neither RSA nor EC
  CertificateNotFound,
  CertificateMismatch  // the certificates at hand belong to another key
};

class TPkcs11Key;

struct TPkcs11OpenResult {
  std::unique_ptr<TPkcs11Key> Key;  // empty on failure
  TPkcs11Failure Failure = TPkcs11Failure::None;
  std::string Message;  // English, for "SignTool Error: "
};

// Loads the module, finds the one token and the key the URI name, logs in and finds the
// certificate.
TPkcs11OpenResult OpenPkcs11Key(const TPkcs11KeyRequest& Request);

class TPkcs11Key final : public TSigningKey {
 public:
  ~TPkcs11Key() override;
  TPkcs11Key(const TPkcs11Key&) = delete;
  TPkcs11Key& operator=(const TPkcs11Key&) = delete;

  X509* Certificate() const override { return Cert.get(); }
  std::vector<X509*> Chain() const override;
  TKeySignature SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) override;

 private:
  struct TModule;
  friend TPkcs11OpenResult OpenPkcs11Key(const TPkcs11KeyRequest& Request);
  explicit TPkcs11Key(std::string_view Pin);

  std::string Pin;
  std::unique_ptr<TModule> Module;
  std::unique_ptr<EVP_PKEY, TOpenSslFree<EVP_PKEY_free>> Key;
  TX509 Cert;
  std::vector<TX509> Others;
  std::mutex Signing;  // a token signs one digest at a time
};
