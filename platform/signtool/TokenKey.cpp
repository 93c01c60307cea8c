#include "TokenKey.h"

#include <optional>
#include <vector>

#include "CommandOutput.h"
#include "Interruption.h"
#include "common/PinRefusal.h"
#include "common/Pkcs11Uri.h"
#include "common/TextUtil.h"
#include "keys/TokenCatalog.h"
#include "keys/CertificateFile.h"
#include "keys/LockedTokenKey.h"
#include "keys/TokenLock.h"

namespace {

// The token's refusal of the PIN in the user's language; a refusal another run noted meanwhile
// comes as its English text. Other failures are told as the key layer words them.
std::string InOutputLanguage(const TLockedTokenOpening& Opened) {
  for (const TPinRefusal Refusal : {TPinRefusal::Wrong, TPinRefusal::Locked}) {
    const TPkcs11Failure Failure = Refusal == TPinRefusal::Wrong ? TPkcs11Failure::WrongPin : TPkcs11Failure::PinLocked;
    const bool Refused =
        Opened.Failure == Failure || Opened.Message == PinRefusalText(Refusal, TMessageLanguage::English);
    if (Refused) return PinRefusalText(Refusal, OutputLanguage());
  }
  return Opened.Message;
}

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
  if (!Listing.ModuleLoaded) return {std::nullopt, Say(TMessage::ModuleNotLoaded, {Module})};
  const TTokenCertificate* Found = nullptr;
  for (const TTokenCertificate& Certificate : Listing.Certificates) {
    if (!Chosen(Options, Certificate)) continue;
    if (Found)
      return {std::nullopt, Say(TMessage::SeveralCertificates)};
    Found = &Certificate;
  }
  if (!Found) return {std::nullopt, Say(TMessage::NoCertificateFound)};
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
  if (!Parsed) return {std::nullopt, Say(TMessage::InvalidPkcs11Uri, {KeyContainer})};
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
    case TTokenLock::TState::Expired: return {nullptr, Say(TMessage::TokenBusy)};
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
    if (!Read) return {nullptr, Say(TMessage::CertificateFileUnreadable, {Options.FilePath})};
    FileCertificates = std::move(*Read);
    for (const TX509& Certificate : FileCertificates) Request.Certificates.push_back(Certificate.get());
  }
  TTokenTurns Turns;
  Turns.Deadline = [Deadline] { return Deadline; };
  Turns.Interruption = InterruptionDescriptor();
  TLockedTokenOpening Opened = OpenLockedTokenKey(std::move(Request), std::move(Turns));
  if (Opened.Interrupted) ThrowIfInterrupted();
  if (!Opened.Key) return {nullptr, InOutputLanguage(Opened)};
  return {std::move(Opened.Key), {}};
}
