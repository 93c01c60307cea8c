#include "TokenKey.h"

#include <optional>
#include <vector>

#include "PinRefusalNote.h"
#include "TokenLock.h"
#include "common/Pkcs11Uri.h"
#include "common/TextUtil.h"
#include "keys/TokenCatalog.h"
#include "keys/CertificateFile.h"
#include "keys/Pkcs11Key.h"

namespace {
const std::string NotFound = "No certificates were found that met all the given criteria.";
const std::string InUseUntilTheLimit = "The token was in use by another process until the time limit.";

// One lock per physical token, however the options reach it: its serial number is the same
// through p11-kit's proxy and through the token's own module. Tokens without one share the
// module's lock.
std::string Identity(const std::string& Serial, const std::string& Module) {
  return Serial.empty() ? "module:" + Module : "serial:" + Serial;
}

// A key on a token that signs under the token's lock.
class TLockedTokenKey final : public TSigningKey {
 public:
  TLockedTokenKey(std::unique_ptr<TPkcs11Key> Key, std::string Token, std::chrono::steady_clock::time_point Deadline)
      : Key(std::move(Key)), Token(std::move(Token)), Deadline(Deadline) {}

  X509* Certificate() const override { return Key->Certificate(); }
  std::vector<X509*> Chain() const override { return Key->Chain(); }
  TKeySignature SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) override {
    const TTokenLock Lock(Token, Deadline);
    switch (Lock.State()) {
      case TTokenLock::TState::Held: return Key->SignDigest(Digest, Md);
      case TTokenLock::TState::Refused: return {{}, Lock.Problem()};
      case TTokenLock::TState::Expired: return {{}, InUseUntilTheLimit};
    }
    return {};
  }

 private:
  std::unique_ptr<TPkcs11Key> Key;
  std::string Token;
  std::chrono::steady_clock::time_point Deadline;
};

bool Chosen(const TSignOptions& Options, const TTokenCertificate& Certificate) {
  if (Certificate.PrivateKey == TKeyPresence::Absent) return false;
  if (!Options.Thumbprint.empty() && Certificate.Sha1 != Options.Thumbprint) return false;
  return Options.SubjectName.empty() ||
         AsciiLower(Certificate.CommonName).find(AsciiLower(Options.SubjectName)) != std::string::npos;
}

struct TKeyAddress {
  std::optional<TPkcs11Uri> Uri;
  std::string Error;
};

// /sha1 and /n: the one fitting certificate among those of every present token, named by its
// token's serial number and its id.
TKeyAddress FromListing(const TSignOptions& Options, const std::string& Module) {
  const TTokenListing Listing = ListTokenCertificates(Module);
  if (!Listing.ModuleLoaded) return {std::nullopt, "The PKCS#11 module could not be loaded: " + Module};
  const TTokenCertificate* Found = nullptr;
  for (const TTokenCertificate& Certificate : Listing.Certificates) {
    if (!Chosen(Options, Certificate)) continue;
    if (Found)
      return {std::nullopt, "Several certificates were found that met all the given criteria; choose one with /sha1."};
    Found = &Certificate;
  }
  if (!Found) return {std::nullopt, NotFound};
  TPkcs11Uri Uri = UriOf(*Found);
  Uri.Set("serial", Found->TokenSerial);
  return {std::move(Uri), {}};
}

TKeyAddress FromKeyContainer(const std::string& KeyContainer) {
  if (!IsPkcs11Uri(KeyContainer)) {
    TPkcs11Uri Uri;
    Uri.Set("object", KeyContainer);
    return {std::move(Uri), {}};
  }
  std::optional<TPkcs11Uri> Parsed = ParsePkcs11Uri(KeyContainer);
  if (!Parsed) return {std::nullopt, "Invalid PKCS#11 URI: " + KeyContainer};
  return {std::move(Parsed), {}};
}
}  // namespace

TTokenKeyOpening OpenTokenKey(const TSignOptions& Options, const std::string& Pin,
                              std::chrono::steady_clock::time_point Deadline) {
  // Modules such as SoftHSM2 may miss a token that another process is using while they look for
  // it: the user's runs look for their tokens one at a time. The login then happens under
  // the token's own lock as well.
  const TTokenLock Looking("opening", Deadline);
  switch (Looking.State()) {
    case TTokenLock::TState::Held: break;
    case TTokenLock::TState::Refused: return {nullptr, Looking.Problem()};
    case TTokenLock::TState::Expired: return {nullptr, InUseUntilTheLimit};
  }
  const bool ByCertificate = !Options.Thumbprint.empty() || !Options.SubjectName.empty();
  const std::string ListedModule = Options.Module.empty() ? DefaultPkcs11Module() : Options.Module;
  TKeyAddress Address = ByCertificate ? FromListing(Options, ListedModule) : FromKeyContainer(Options.KeyContainer);
  if (!Address.Uri) return {nullptr, Address.Error};

  TPkcs11KeyRequest Request;
  Request.Uri = *Address.Uri;
  Request.Module = Options.Module.empty() ? ModuleOf(Request.Uri) : Options.Module;
  Request.Pin = Pin;
  std::vector<TX509> FileCertificates;
  if (!Options.FilePath.empty()) {
    std::optional<std::vector<TX509>> Read = ReadCertificateFile(Options.FilePath);
    if (!Read) return {nullptr, "The certificate file could not be read: " + Options.FilePath};
    FileCertificates = std::move(*Read);
    for (const TX509& Certificate : FileCertificates) Request.Certificates.push_back(Certificate.get());
  }
  std::optional<TTokenLock> Lock;
  std::string Token;
  Request.BeforeLogin = [&](const TTokenInfo& Found) -> std::string {
    Token = Identity(Found.Serial, Request.Module);
    Lock.emplace(Token, Deadline);
    switch (Lock->State()) {
      case TTokenLock::TState::Held: break;
      case TTokenLock::TState::Refused: return Lock->Problem();
      case TTokenLock::TState::Expired: return InUseUntilTheLimit;
    }
    const TPinRefusal Refused = RefusalNotedMeanwhile(Lock->Descriptor(), Pin);
    return Refused == TPinRefusal::None ? std::string() : std::string(PinRefusalText(Refused));
  };
  TPkcs11OpenResult Opened = OpenPkcs11Key(Request);
  if (Lock && Lock->State() == TTokenLock::TState::Held) {
    if (Opened.Failure == TPkcs11Failure::WrongPin) NoteRefusal(Lock->Descriptor(), TPinRefusal::Wrong, Pin);
    if (Opened.Failure == TPkcs11Failure::PinLocked) NoteRefusal(Lock->Descriptor(), TPinRefusal::Locked, Pin);
  }
  if (!Opened.Key) return {nullptr, Opened.Message};
  return {std::make_unique<TLockedTokenKey>(std::move(Opened.Key), Token, Deadline), {}};
}
