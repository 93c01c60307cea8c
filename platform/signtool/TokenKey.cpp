#include "TokenKey.h"

#include <optional>
#include <vector>

#include "Interruption.h"
#include "common/Pkcs11Uri.h"
#include "common/TextUtil.h"
#include "keys/TokenCatalog.h"
#include "keys/CertificateFile.h"
#include "keys/LockedTokenKey.h"
#include "keys/TokenLock.h"

namespace {
const std::string NotFound = "No certificates were found that met all the given criteria.";

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
  // The user's runs look for their tokens one at a time (see TokenLookupLock); the login then
  // happens under the token's own lock as well.
  const TTokenLock Looking(TokenLookupLock, Deadline, InterruptionDescriptor());
  switch (Looking.State()) {
    case TTokenLock::TState::Held: break;
    case TTokenLock::TState::Refused: return {nullptr, Looking.Problem()};
    case TTokenLock::TState::Expired: return {nullptr, TokenInUseUntilTheLimit};
    case TTokenLock::TState::Interrupted: ThrowIfInterrupted(); break;
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
  TTokenTurns Turns;
  Turns.Deadline = [Deadline] { return Deadline; };
  Turns.Interruption = InterruptionDescriptor();
  TLockedTokenOpening Opened = OpenLockedTokenKey(std::move(Request), std::move(Turns));
  if (Opened.Interrupted) ThrowIfInterrupted();
  if (!Opened.Key) return {nullptr, Opened.Message};
  return {std::move(Opened.Key), {}};
}
