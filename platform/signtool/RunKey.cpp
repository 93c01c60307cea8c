#include "RunKey.h"

#include <sys/stat.h>

#include <cstdlib>
#include <optional>

#include "CommandOutput.h"
#include "Interruption.h"
#include "TokenKey.h"
#include "cloud/CloudKeyAddress.h"
#include "cloud/OpenCloudKey.h"
#include "keys/AgentKey.h"
#include "keys/CertificateFile.h"
#include "keys/PfxKey.h"

namespace {
TRunKey Unusable(std::string Error) { return {nullptr, {}, std::move(Error)}; }

TRunKey FromPfx(const TSignOptions& Options, const std::optional<std::string>& Password) {
  // No password and an empty one both open a PFX protected by either.
  TPfxOpenResult Pfx = OpenPfx(Options.FilePath, Password && !Password->empty() ? Password : std::nullopt);
  struct stat Info {};
  switch (Pfx.Failure) {
    case TPfxFailure::None: return {std::move(Pfx.Key), {}, {}};
    case TPfxFailure::CannotOpen:
      if (::stat(Options.FilePath.c_str(), &Info) != 0) return Unusable(Say(TMessage::FileNotFound, {Options.FilePath}));
      return Unusable(Say(TMessage::PfxUnopenable, {Options.FilePath}));
    case TPfxFailure::NotPfx: return Unusable(Say(TMessage::NotPfx, {Options.FilePath}));
    case TPfxFailure::WrongPassword: return Unusable(Say(TMessage::WrongPfxPassword));
    case TPfxFailure::Undecodable: break;
  }
  return Unusable(Pfx.Message);
}

TRunKey FromSession(const std::string& Socket) {
  TAgentKey::TConnectResult Connected = TAgentKey::Connect(Socket);
  if (!Connected.Key) return Unusable(Connected.Error);
  TAgentKey* Session = Connected.Key.get();
  THttpCaller Http = [Session](const THttpCall& Call, TSteadyClock::time_point Deadline, int Interruption) {
    return Session->CallHttp(Call, Deadline, Interruption);
  };
  return {std::move(Connected.Key), {}, {}, std::move(Http)};
}

// /kc with a key service's address, or /csp naming the service and /kc the address without its
// scheme: the address whole.
std::string CloudAddressText(const TSignOptions& Options) {
  const std::optional<TCloudService> Named = CloudServiceNamed(Options.Module);
  return Named && !IsCloudKeyAddress(Options.KeyContainer) ? CloudServicePrefix(*Named) + Options.KeyContainer
                                                            : Options.KeyContainer;
}

TRunKey FromCloud(const TSignOptions& Options, const std::optional<std::string>& Secret,
                  std::chrono::steady_clock::time_point Deadline) {
  const std::optional<TCloudService> Named = CloudServiceNamed(Options.Module);
  if (Options.KeyContainer.empty()) return Unusable("The /csp option naming a key service requires the key's address in /kc.");
  const TCloudKeyAddressParse Parsed = ParseCloudKeyAddress(CloudAddressText(Options));
  if (!Parsed.Address) return Unusable(Parsed.Problem);
  if (Named && Parsed.Address->Service != *Named)
    return Unusable("The /kc address is not one of " + std::string(CloudServiceName(*Named)) + ".");
  TCloudKeyOpening Opened = OpenCloudKey(*Parsed.Address, Secret.value_or(std::string()), Options.FilePath, Deadline,
                                         InterruptionDescriptor());
  if (Opened.Failure.Kind == TCloudFailure::TKind::Interrupted) ThrowIfInterrupted();
  if (!Opened.Key) return Unusable(Opened.Message);
  return {std::move(Opened.Key), {}, {}};
}

TRunKey FromToken(const TSignOptions& Options, const std::optional<std::string>& Pin,
                  std::chrono::steady_clock::time_point Deadline) {
  TTokenKeyOpening Opened = OpenTokenKey(Options, Pin.value_or(std::string()), Deadline);
  if (!Opened.Key) return Unusable(Opened.Error);
  return {std::move(Opened.Key), {}, {}};
}
}  // namespace

bool KeyNeedsTimestamp(const TSignOptions& Options) {
  const TCloudKeyAddressParse Parsed = ParseCloudKeyAddress(CloudAddressText(Options));
  return Parsed.Address && CloudServiceNeedsTimestamp(Parsed.Address->Service);
}

bool InKeySession() {
  const char* Session = std::getenv(KeyAgentVariable);
  return Session != nullptr && *Session != '\0';
}

TRunKey OpenRunKey(const TSignOptions& Options, const std::optional<std::string>& Password,
                   std::chrono::steady_clock::time_point Deadline) {
  const bool InService = CloudServiceNamed(Options.Module) || IsCloudKeyAddress(Options.KeyContainer);
  const bool OnToken = !Options.KeyContainer.empty() || !Options.Thumbprint.empty() || !Options.SubjectName.empty();
  TRunKey Key = InKeySession()      ? FromSession(std::getenv(KeyAgentVariable))
                : InService         ? FromCloud(Options, Password, Deadline)
                : OnToken           ? FromToken(Options, Password, Deadline)
                                    : FromPfx(Options, Password);
  if (!Key.Key || Options.AdditionalCertificates.empty()) return Key;
  std::optional<std::vector<TX509>> Extra = ReadCertificateFile(Options.AdditionalCertificates);
  if (!Extra) return Unusable(Say(TMessage::ExtraCertificatesUnreadable, {Options.AdditionalCertificates}));
  Key.ExtraCertificates = std::move(*Extra);
  return Key;
}
