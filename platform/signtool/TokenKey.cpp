#include "TokenKey.h"

#include <vector>

#include "common/Pkcs11Uri.h"
#include "common/TextUtil.h"
#include "common/TokenCatalog.h"

namespace {
const std::string NotFound = "No certificates were found that met all the given criteria.";

// One lock per physical token, however the options reach it: its serial number is the same
// through p11-kit's proxy and through the token's own module. Tokens without one share the
// module's lock.
std::string Identity(const std::string& Serial, const std::string& Module) {
  return Serial.empty() ? "module:" + Module : "serial:" + Serial;
}

TTokenKey FromKeyUri(TPkcs11Uri Uri, const std::string& Module, const std::string& CertFile, std::string Token) {
  Uri.Query.clear();
  TTokenKey Key;
  Key.Module = Module;
  Key.Token = std::move(Token);
  Key.CertFile = CertFile;
  Uri.Set("type", "private");
  Key.KeyUri = Uri.ToString();
  if (CertFile.empty()) {
    // A certificate's label often differs from its key's; the id is what pairs them.
    if (Uri.Get("id")) Uri.Remove("object");
    Uri.Set("type", "cert");
    Key.CertUri = Uri.ToString();
  }
  return Key;
}

// The key on the one present token that Uri's token attributes fit; the serial number is added
// to them, so that osslsigncode looks on that token and no other.
TTokenKeyChoice OnItsToken(TPkcs11Uri Uri, const std::string& Module, const std::string& CertFile) {
  const TTokenList Present = ListSigningTokens(Module);
  if (!Present.ModuleLoaded) return {std::nullopt, "The PKCS#11 module could not be loaded: " + Module};
  std::vector<TTokenInfo> Fitting;
  for (const TTokenInfo& Token : Present.Tokens)
    if (UriSelectsToken(Uri, Token)) Fitting.push_back(Token);
  if (Fitting.empty())
    return {std::nullopt, "No token holding the key is present: " + FromKeyUri(Uri, Module, CertFile, {}).KeyUri};
  if (Fitting.size() > 1) return {std::nullopt, AmbiguousTokenText(Uri, Fitting)};
  const std::string& Serial = Fitting.front().Serial;
  if (!Serial.empty()) Uri.Set("serial", Serial);
  return {FromKeyUri(std::move(Uri), Module, CertFile, Identity(Serial, Module)), {}};
}

bool Chosen(const TSignOptions& Options, const TTokenCertificate& Certificate) {
  if (Certificate.PrivateKey == TKeyPresence::Absent) return false;
  if (!Options.Thumbprint.empty() && Certificate.Sha1 != Options.Thumbprint) return false;
  return Options.SubjectName.empty() ||
         AsciiLower(Certificate.CommonName).find(AsciiLower(Options.SubjectName)) != std::string::npos;
}

TTokenKeyChoice FromListing(const TSignOptions& Options, const std::string& Module) {
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
  return {FromKeyUri(Uri, Module, {}, Identity(Found->TokenSerial, Module)), {}};
}
}  // namespace

TTokenKeyChoice ChooseTokenKey(const TSignOptions& Options) {
  if (!Options.Thumbprint.empty() || !Options.SubjectName.empty())
    return FromListing(Options, Options.Module.empty() ? DefaultPkcs11Module() : Options.Module);
  if (Options.KeyContainer.empty()) return {};
  TPkcs11Uri Uri;
  if (IsPkcs11Uri(Options.KeyContainer)) {
    std::optional<TPkcs11Uri> Parsed = ParsePkcs11Uri(Options.KeyContainer);
    if (!Parsed) return {std::nullopt, "Invalid PKCS#11 URI: " + Options.KeyContainer};
    Uri = std::move(*Parsed);
  } else {
    Uri.Set("object", Options.KeyContainer);
  }
  const std::string Module = Options.Module.empty() ? ModuleOf(Uri) : Options.Module;
  return OnItsToken(std::move(Uri), Module, Options.FilePath);
}

TPinRefusal PinRefusalOf(const std::string& Output) {
  const auto Says = [&Output](const char* Text) { return Output.find(Text) != std::string::npos; };
  if (Says("PIN incorrect") || Says("PIN invalid") || Says("PIN len range")) return TPinRefusal::Wrong;
  if (Says("PIN locked")) return TPinRefusal::Locked;
  return TPinRefusal::None;
}

std::optional<std::string> TokenProblem(const TTokenKey& Key, const std::string& Output) {
  if (const TPinRefusal Refusal = PinRefusalOf(Output); Refusal != TPinRefusal::None)
    return std::string(PinRefusalText(Refusal));
  const auto Says = [&Output](const char* Text) { return Output.find(Text) != std::string::npos; };
  if (Says("Unable to load PKCS#11 module") || Says("Unable to load module"))
    return "The PKCS#11 module could not be loaded: " + Key.Module;
  if (Says("No matching initialized token"))
    return "No token holding the key is present: " + Key.KeyUri;
  if (Says("Failed to load certificate") || Says("Failed to read certificate")) return NotFound;
  if (Says("Failed to load private key")) return "The private key was not found on the token: " + Key.KeyUri;
  return std::nullopt;
}
