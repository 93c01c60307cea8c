#include "cloud/OpenCloudKey.h"

#include "cloud/AwsKmsKey.h"
#include "cloud/CloudPace.h"
#include "cloud/GoogleKmsKey.h"
#include "cloud/KeyVaultKey.h"
#include "cloud/TrustedSigningKey.h"

TCloudKeyOpening OpenCloudKey(const TCloudKeyAddress& Address, std::string_view Secret, const std::string& CertificateFile,
                              TSteadyClock::time_point Deadline, int Interruption) {
  TCloudKeyRequest Request{Address, Secret, CertificateFile.empty() ? Address.CertificateFile : CertificateFile,
                           OpenCloudPace(), {}};
  Request.Link.Pace = Request.Pace.get();
  Request.Link.Deadline = Deadline;
  Request.Link.Interruption = Interruption;
  TCloudKeyOpening Opening;
  switch (Address.Service) {
    case TCloudService::GoogleKms: Opening = OpenGoogleKmsKey(Request); break;
    case TCloudService::KeyVault: Opening = OpenKeyVaultKey(Request); break;
    case TCloudService::AwsKms: Opening = OpenAwsKmsKey(Request); break;
    case TCloudService::TrustedSigning: Opening = OpenTrustedSigningKey(Request); break;
  }
  if (!Opening.Key && Opening.Message.empty())
    Opening.Message = DescribeCloudFailure(Opening.Failure, CloudServiceName(Address.Service), LanguageOfEnvironment());
  return Opening;
}
