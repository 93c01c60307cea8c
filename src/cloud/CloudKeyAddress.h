#pragma once
// The readable address of a key in a key service, one scheme per service, as the certificate box
// and /kc take it:
//   gcpkms://projects/<p>/locations/<l>/keyRings/<r>/cryptoKeys/<k>/cryptoKeyVersions/<v>
//   keyvault://<vault-host>/<certificate>[/<version>]
//   awskms://<region>/<key id | alias/<name> | key ARN>
//   trustedsigning://<endpoint host>/<account>/<certificate profile>
// A key whose certificate is not kept by the service (Google's, AWS's) takes its file in the query part,
// percent-encoded: "?certificate=%2Fhome%2Fme%2Frelease.pem" (signtool.exe's /f does the same).
#include <optional>
#include <string>
#include <string_view>

enum class TCloudService { GoogleKms, KeyVault, AwsKms, TrustedSigning };

struct TCloudKeyAddress {
  TCloudService Service = TCloudService::GoogleKms;
  std::string Host;             // the vault or endpoint host (with :port when given), AWS's region; empty for Google
  std::string Path;             // what follows, percent-decoded, without the leading '/'
  std::string CertificateFile;  // the query's certificate, percent-decoded; empty when not given
};

struct TCloudKeyAddressParse {
  std::optional<TCloudKeyAddress> Address;
  std::string Problem;  // in English, when Address is empty: the form the service's addresses take
};

// True when Text, trimmed, begins with one of the services' schemes (ignoring case).
bool IsCloudKeyAddress(std::string_view Text);
TCloudKeyAddressParse ParseCloudKeyAddress(std::string_view Text);
// The address as the certificate box shows it; ParseCloudKeyAddress reads it back.
std::string FormatCloudKeyAddress(const TCloudKeyAddress& Address);

// The service's own name ("Google Cloud KMS"); signtool.exe's /csp takes it too.
std::string_view CloudServiceName(TCloudService Service);
// The service /csp names, ignoring case; std::nullopt when it names none (a PKCS#11 module then).
std::optional<TCloudService> CloudServiceNamed(std::string_view Name);
// Whether the service's certificates live so briefly (days) that a signature needs a timestamp.
bool CloudServiceNeedsTimestamp(TCloudService Service);
// "gcpkms://", …: what /kc's value is prefixed with when /csp names the service and /kc has no scheme.
std::string CloudServicePrefix(TCloudService Service);
