#include "cloud/TrustedSigningKey.h"

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>

#include "cloud/AccessToken.h"
#include "cloud/BearerToken.h"
#include "cloud/CloudKey.h"
#include "common/Base64.h"
#include "common/TextUtil.h"

namespace {
using TKind = TCloudFailure::TKind;
constexpr std::string_view ServiceName = "Azure Trusted Signing";
constexpr const char* ApiVersion = "2022-06-15-preview";
constexpr const char* CodeSigningResource = "https://codesigning.azure.net";
constexpr std::chrono::milliseconds FirstPoll{50}, LongestPoll{1'000};
constexpr std::chrono::seconds DefaultWait{120};

std::chrono::seconds SignatureWait() {
  const char* Variable = std::getenv(TrustedSigningWaitVariable);
  char* End = nullptr;
  const long Seconds = Variable != nullptr ? std::strtol(Variable, &End, 10) : 0;
  return Variable != nullptr && End != Variable && *End == '\0' && Seconds > 0 ? std::chrono::seconds(Seconds) : DefaultWait;
}

// The certificates of a certs-only PKCS#7, the signer's first: the one that issued none of the others.
std::optional<std::vector<TX509>> ChainOf(const std::string& Der) {
  const auto* Cursor = reinterpret_cast<const unsigned char*>(Der.data());
  const TPkcs7 Bundle(d2i_PKCS7(nullptr, &Cursor, static_cast<long>(Der.size())));
  if (!Bundle || PKCS7_type_is_signed(Bundle.get()) == 0 || Bundle->d.sign == nullptr || Bundle->d.sign->cert == nullptr)
    return std::nullopt;
  std::vector<TX509> Certificates;
  for (int Index = 0; Index < sk_X509_num(Bundle->d.sign->cert); ++Index) {
    X509* Certificate = sk_X509_value(Bundle->d.sign->cert, Index);
    if (X509_up_ref(Certificate) != 1) return std::nullopt;
    Certificates.emplace_back(Certificate);
  }
  const auto IssuesOthers = [&Certificates](const TX509& Candidate) {
    return std::any_of(Certificates.begin(), Certificates.end(), [&Candidate](const TX509& Other) {
      return Other != Candidate && X509_check_issued(Candidate.get(), Other.get()) == X509_V_OK;
    });
  };
  const auto Signer = std::find_if_not(Certificates.begin(), Certificates.end(), IssuesOthers);
  if (Signer == Certificates.end()) return std::nullopt;
  std::rotate(Certificates.begin(), Signer, Signer + 1);
  return Certificates;
}

std::string SignatureAlgorithm(const EVP_MD* Md) { return "RS" + std::to_string(EVP_MD_get_size(Md) * 8); }

class TTrustedSigningKey final : public TCloudKey {
 public:
  TTrustedSigningKey(std::vector<TX509> Certificates, const TCloudKeyRequest& Request, std::string ProfileUrl,
                     TAccessToken Token)
      : TCloudKey(std::string(ServiceName), std::move(Certificates), Request.Pace, Request.Link),
        ProfileUrl(std::move(ProfileUrl)),
        Token(std::move(Token), [](const TCloudLink& Link) { return AzureAccessToken({}, CodeSigningResource, Link); }) {}

  TKeySignature SignDigest(std::span<const std::uint8_t> Value, const EVP_MD* Md) override {
    const nlohmann::json Body{{"signatureAlgorithm", SignatureAlgorithm(Md)}, {"digest", EncodeBase64(Value)}};
    const TCloudAnswer Submitted = Token.Call(
        [&](const std::string& Authorization) -> THttpCall {
          return {"POST", ProfileUrl + "/sign?api-version=" + ApiVersion, {Authorization, "Content-Type: application/json"},
                  Body.dump(), {}};
        },
        Link);
    if (Submitted.Failure) return Failed(Submitted.Failure);
    const nlohmann::json Operation = nlohmann::json::parse(Submitted.Body, nullptr, false);
    const std::string OperationId = Operation.is_object() ? Operation.value("operationId", std::string()) : std::string();
    if (OperationId.empty() || OperationId.find_first_of("/?#") != std::string::npos)
      return Failed({TKind::Malformed, "the answer to the signing request names no operation"});
    return Finished(ProfileUrl + "/sign/" + OperationId + "?api-version=" + ApiVersion, Value, Md);
  }

 private:
  // Polls the operation at Url, more seldom as it goes on, until it succeeds or fails.
  TKeySignature Finished(const std::string& Url, std::span<const std::uint8_t> Value, const EVP_MD* Md) const {
    const TSteadyClock::time_point GiveUp = std::min(Link.Deadline, TSteadyClock::now() + SignatureWait());
    for (std::chrono::milliseconds Pause = FirstPoll;; Pause = std::min(Pause * 2, LongestPoll)) {
      if (TSteadyClock::now() + Pause >= GiveUp)
        return Failed({TKind::TimedOut, "the signing operation did not finish within " +
                                            std::to_string(SignatureWait().count()) + " s"});
      if (!WaitUntil(TSteadyClock::now() + Pause, Link.Interruption)) return Failed({TKind::Interrupted, {}});
      const TCloudAnswer Answer =
          Token.Call([&](const std::string& Authorization) -> THttpCall { return {"GET", Url, {Authorization}, {}, {}}; }, Link);
      if (Answer.Failure) return Failed(Answer.Failure);
      const nlohmann::json Status = nlohmann::json::parse(Answer.Body, nullptr, false);
      const std::string State = Status.is_object() ? Status.value("status", std::string()) : std::string();
      if (State == "InProgress" || State == "NotStarted" || State == "Running") continue;
      if (State == "Succeeded") return Signature(Status, Value, Md);
      if (State == "Failed" || State == "Canceled" || State == "TimedOut") {
        const auto Error = Status.find("error");
        const std::string Said = Error != Status.end() && Error->is_object() ? Error->value("message", std::string()) : std::string();
        return Failed({TKind::Refused, "the signing operation ended as " + State + (Said.empty() ? "" : ": " + Said)});
      }
      return Failed({TKind::Malformed, "the operation's status cannot be read"});
    }
  }

  TKeySignature Signature(const nlohmann::json& Status, std::span<const std::uint8_t> Value, const EVP_MD* Md) const {
    const std::string Signed = Status.value("signature", std::string());
    if (Signed.empty()) return Failed({TKind::Malformed, "the finished operation holds no signature"});
    // The profile's certificate is renewed every day; a signature by a newer one than the batch
    // began with does not fit the chain already chosen.
    const std::vector<std::uint8_t> Used = DecodeBase64(Status.value("signingCertificate", std::string()));
    if (!Used.empty()) {
      unsigned char* Der = nullptr;
      const int Length = i2d_X509(Certificate(), &Der);
      const bool Same = Length > 0 && std::equal(Used.begin(), Used.end(), Der, Der + Length);
      OPENSSL_free(Der);
      if (!Same)
        return Failed({TKind::Refused, "the profile's certificate was renewed during the batch; sign the file again"});
    }
    return Verified(DecodeBase64(Signed), Value, Md);
  }

  const std::string ProfileUrl;  // …/codesigningaccounts/<account>/certificateprofiles/<profile>
  const TBearerToken Token;
};

TCloudKeyOpening Refused(TKind Kind, std::string Detail) { return {nullptr, {Kind, std::move(Detail)}, {}}; }
}  // namespace

TCloudKeyOpening OpenTrustedSigningKey(const TCloudKeyRequest& Request) {
  const std::string& Path = Request.Address.Path;  // "<account>/<profile>"
  const std::size_t Slash = Path.find('/');
  const std::string ProfileUrl = ServiceUrl(Request.Address.Host) + "/codesigningaccounts/" + Path.substr(0, Slash) + "/certificateprofiles/" +
                                 Path.substr(Slash + 1);
  TAccessToken Token = AzureAccessToken(Request.Secret, CodeSigningResource, Request.Link);
  if (Token.Failure) return {nullptr, Token.Failure, {}};
  const TCloudAnswer Answer = CallCloud(
      {"GET", ProfileUrl + "/sign/certchain?api-version=" + ApiVersion, {BearerHeader(Token), "Accept: application/pkcs7-mime"}, {}, {}},
      Request.Link);
  if (Answer.Failure) return {nullptr, Answer.Failure, {}};
  std::optional<std::vector<TX509>> Certificates = ChainOf(Answer.Body);
  if (!Certificates) return Refused(TKind::Malformed, "the profile's certificate chain cannot be read");
  return {std::make_unique<TTrustedSigningKey>(std::move(*Certificates), Request, ProfileUrl, std::move(Token)), {}, {}};
}
