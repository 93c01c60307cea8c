#include "cloud/CloudKeyAddress.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

#include "common/TextUtil.h"

namespace {
std::vector<std::string_view> Segments(std::string_view Path) {
  std::vector<std::string_view> Found;
  for (;;) {
    const std::size_t Slash = Path.find('/');
    Found.push_back(Path.substr(0, Slash));
    if (Slash == std::string_view::npos) return Found;
    Path.remove_prefix(Slash + 1);
  }
}

bool NoneEmpty(const std::vector<std::string_view>& Parts) {
  for (std::string_view Part : Parts)
    if (Part.empty()) return false;
  return true;
}

// Google: the key version's resource name, as the service names it.
bool ParseGoogle(std::string_view Rest, TCloudKeyAddress& Address) {
  const std::vector<std::string_view> Parts = Segments(Rest);
  static constexpr std::array<std::string_view, 5> Kinds{"projects", "locations", "keyRings", "cryptoKeys",
                                                         "cryptoKeyVersions"};
  if (Parts.size() != 2 * Kinds.size() || !NoneEmpty(Parts)) return false;
  for (std::size_t Index = 0; Index < Kinds.size(); ++Index)
    if (Parts[2 * Index] != Kinds[Index]) return false;
  Address.Path = Rest;
  return true;
}

// Key Vault: the vault's host, the certificate's name and maybe its version.
bool ParseKeyVault(std::string_view Rest, TCloudKeyAddress& Address) {
  const std::size_t Slash = Rest.find('/');
  if (Slash == std::string_view::npos) return false;
  const std::vector<std::string_view> Parts = Segments(Rest.substr(Slash + 1));
  if (Slash == 0 || Parts.size() > 2 || !NoneEmpty(Parts)) return false;
  Address.Host = AsciiLower(Rest.substr(0, Slash));
  Address.Path = Rest.substr(Slash + 1);
  return true;
}

// AWS: the region, then the key by its id, alias or ARN.
bool ParseAws(std::string_view Rest, TCloudKeyAddress& Address) {
  const std::size_t Slash = Rest.find('/');
  if (Slash == std::string_view::npos || Slash == 0 || Slash + 1 == Rest.size()) return false;
  const std::string_view Region = Rest.substr(0, Slash);
  if (!std::all_of(Region.begin(), Region.end(), [](char C) { return std::islower(static_cast<unsigned char>(C)) || std::isdigit(static_cast<unsigned char>(C)) || C == '-'; }))
    return false;
  Address.Host = Region;
  Address.Path = Rest.substr(Slash + 1);
  return true;
}

// Trusted Signing: the account's endpoint, the account and the certificate profile, names of
// letters, digits and hyphens.
bool ParseTrustedSigning(std::string_view Rest, TCloudKeyAddress& Address) {
  const std::vector<std::string_view> Parts = Segments(Rest);
  const auto IsName = [](std::string_view Name) {
    return !Name.empty() && std::all_of(Name.begin(), Name.end(), [](char C) { return std::isalnum(static_cast<unsigned char>(C)) || C == '-'; });
  };
  if (Parts.size() != 3 || Parts[0].empty() || Parts[0].find_first_of("@?#") != std::string_view::npos ||
      !IsName(Parts[1]) || !IsName(Parts[2]))
    return false;
  Address.Host = Parts[0];
  Address.Path = std::string(Parts[1]) + "/" + std::string(Parts[2]);
  return true;
}

struct TServiceForm {
  TCloudService Service;
  std::string_view Scheme;
  std::string_view Name;
  std::string_view Form;
  bool (*Parse)(std::string_view Rest, TCloudKeyAddress& Address);
  bool NeedsTimestamp;
};

constexpr std::array<TServiceForm, 4> Forms{{
    {TCloudService::GoogleKms, "gcpkms", "Google Cloud KMS",
     "gcpkms://projects/<project>/locations/<location>/keyRings/<ring>/cryptoKeys/<key>/cryptoKeyVersions/<version>",
     ParseGoogle, false},
    {TCloudService::KeyVault, "keyvault", "Azure Key Vault", "keyvault://<vault>.vault.azure.net/<certificate>[/<version>]",
     ParseKeyVault, false},
    {TCloudService::AwsKms, "awskms", "AWS KMS", "awskms://<region>/<key id, alias/<name> or key ARN>", ParseAws, false},
    {TCloudService::TrustedSigning, "trustedsigning", "Azure Trusted Signing",
     "trustedsigning://<endpoint host>/<account>/<certificate profile>", ParseTrustedSigning, true},
}};

const TServiceForm* FormOf(std::string_view Text) {
  for (const TServiceForm& Form : Forms) {
    if (StartsWithAscii(Text, Form.Scheme) && Text.substr(Form.Scheme.size()).starts_with("://")) return &Form;
  }
  return nullptr;
}

const TServiceForm& FormOf(TCloudService Service) {
  for (const TServiceForm& Form : Forms)
    if (Form.Service == Service) return Form;
  return Forms.front();
}
}  // namespace

bool IsCloudKeyAddress(std::string_view Text) { return FormOf(Trim(Text)) != nullptr; }

TCloudKeyAddressParse ParseCloudKeyAddress(std::string_view Text) {
  const std::string Trimmed = Trim(Text);
  const TServiceForm* Form = FormOf(Trimmed);
  if (Form == nullptr) return {std::nullopt, "Not the address of a key in a key service: " + Trimmed};
  const std::string Wrong = "An address of " + std::string(Form->Name) + " has the form " + std::string(Form->Form);
  std::string_view Rest(Trimmed);
  Rest.remove_prefix(Form->Scheme.size() + 3);
  TCloudKeyAddress Address;
  Address.Service = Form->Service;
  if (const std::size_t Query = Rest.find('?'); Query != std::string_view::npos) {
    std::string_view Parameter = Rest.substr(Query + 1);
    Rest = Rest.substr(0, Query);
    constexpr std::string_view Certificate = "certificate=";
    std::optional<std::string> File;
    if (Parameter.starts_with(Certificate)) File = PercentDecode(Parameter.substr(Certificate.size()));
    if (!File || File->empty() || File->find('\0') != std::string::npos)
      return {std::nullopt, Wrong + ", optionally followed by ?certificate=<percent-encoded path>."};
    Address.CertificateFile = std::move(*File);
  }
  const std::optional<std::string> Decoded = PercentDecode(Rest);
  if (!Decoded || !Form->Parse(*Decoded, Address)) return {std::nullopt, Wrong + "."};
  return {std::move(Address), {}};
}

std::string FormatCloudKeyAddress(const TCloudKeyAddress& Address) {
  std::string Text = CloudServicePrefix(Address.Service);
  if (!Address.Host.empty()) Text += Address.Host + "/";
  Text += Address.Path;
  if (!Address.CertificateFile.empty()) Text += "?certificate=" + PercentEncode(Address.CertificateFile);
  return Text;
}

std::string_view CloudServiceName(TCloudService Service) { return FormOf(Service).Name; }

std::optional<TCloudService> CloudServiceNamed(std::string_view Name) {
  for (const TServiceForm& Form : Forms)
    if (SameTextAscii(Trim(Name), Form.Name)) return Form.Service;
  return std::nullopt;
}

bool CloudServiceNeedsTimestamp(TCloudService Service) { return FormOf(Service).NeedsTimestamp; }

std::string CloudServicePrefix(TCloudService Service) { return std::string(FormOf(Service).Scheme) + "://"; }
