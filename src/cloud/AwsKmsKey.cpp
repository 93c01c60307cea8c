#include "cloud/AwsKmsKey.h"

#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "cloud/AwsCredentials.h"
#include "cloud/CloudKey.h"
#include "common/Base64.h"
#include "common/TextUtil.h"
#include "keys/CertificateFile.h"

namespace {
using TKind = TCloudFailure::TKind;
using TPublicKey = std::unique_ptr<EVP_PKEY, TOpenSslFree<EVP_PKEY_free>>;
constexpr std::string_view ServiceName = "AWS KMS";

// "host[:port]" of an http:// or https:// address.
std::string Authority(const std::string& Url) {
  const std::size_t Start = Url.find("://");
  if (Start == std::string::npos) return {};
  return Url.substr(Start + 3, Url.find('/', Start + 3) - Start - 3);
}

// One operation's request, signed for the moment it is made.
class TAwsKmsClient {
 public:
  TAwsKmsClient(std::string Region, TAwsCredentials Credentials)
      : Region(std::move(Region)), Endpoint(AwsKmsEndpoint(this->Region)), Credentials(std::move(Credentials)) {}
  ~TAwsKmsClient() {
    OPENSSL_cleanse(Credentials.SecretAccessKey.data(), Credentials.SecretAccessKey.size());
    OPENSSL_cleanse(Credentials.SessionToken.data(), Credentials.SessionToken.size());
  }
  TAwsKmsClient(const TAwsKmsClient&) = delete;
  TAwsKmsClient& operator=(const TAwsKmsClient&) = delete;

  TCloudAnswer Call(const std::string& Operation, const nlohmann::json& Body, const TCloudLink& Link) const {
    TAwsRequest Request{"POST",
                        "/",
                        {{"Host", Authority(Endpoint)},
                         {"Content-Type", "application/x-amz-json-1.1"},
                         {"X-Amz-Target", "TrentService." + Operation}},
                        Body.dump()};
    SignAwsRequest(Request, Credentials, Region, "kms", std::time(nullptr));
    THttpCall Http{"POST", Endpoint + "/", {}, Request.Body, {}};
    for (const auto& [Name, Value] : Request.Headers) Http.Headers.push_back(Name + ": " + Value);
    return CallCloud(std::move(Http), Link);
  }

 private:
  const std::string Region, Endpoint;
  TAwsCredentials Credentials;
};

// The algorithm KMS signs Md's digests with for a key of this kind, as it names it.
std::string SigningAlgorithm(bool Rsa, const EVP_MD* Md) {
  return (Rsa ? "RSASSA_PKCS1_V1_5_SHA_" : "ECDSA_SHA_") + std::to_string(EVP_MD_get_size(Md) * 8);
}

class TAwsKmsKey final : public TCloudKey {
 public:
  TAwsKmsKey(std::vector<TX509> Certificates, const TCloudKeyRequest& Request, std::unique_ptr<TAwsKmsClient> Client,
             std::vector<std::string> Algorithms)
      : TCloudKey(std::string(ServiceName), std::move(Certificates), Request.Pace, Request.Link),
        KeyId(Request.Address.Path),
        Client(std::move(Client)),
        Algorithms(std::move(Algorithms)) {}

  TKeySignature SignDigest(std::span<const std::uint8_t> Value, const EVP_MD* Md) override {
    const std::string Algorithm = SigningAlgorithm(EVP_PKEY_is_a(X509_get0_pubkey(Certificate()), "RSA") == 1, Md);
    if (std::find(Algorithms.begin(), Algorithms.end(), Algorithm) == Algorithms.end())
      return {{}, "The AWS KMS key does not sign " + AsciiLower(EVP_MD_get0_name(Md)) + " digests; choose another with /fd."};
    const TCloudAnswer Answer = Client->Call(
        "Sign",
        {{"KeyId", KeyId}, {"Message", EncodeBase64(Value)}, {"MessageType", "DIGEST"}, {"SigningAlgorithm", Algorithm}},
        Link);
    return SignatureIn(Answer, "Signature", Value, Md);
  }

 private:
  const std::string KeyId;
  const std::unique_ptr<TAwsKmsClient> Client;
  const std::vector<std::string> Algorithms;  // the key's signing algorithms, as KMS names them
};

TCloudKeyOpening Refused(TKind Kind, std::string Detail) { return {nullptr, {Kind, std::move(Detail)}, {}}; }
}  // namespace

std::string AwsKmsEndpoint(const std::string& Region) {
  for (const char* Name : {"AWS_ENDPOINT_URL_KMS", "AWS_ENDPOINT_URL"}) {
    const char* Variable = std::getenv(Name);
    if (Variable == nullptr || *Variable == '\0') continue;
    std::string Found = Variable;
    while (!Found.empty() && Found.back() == '/') Found.pop_back();
    return Found;
  }
  return "https://kms." + Region + ".amazonaws.com";
}

TCloudKeyOpening OpenAwsKmsKey(const TCloudKeyRequest& Request) {
  if (Request.CertificateFile.empty())
    return Refused(TKind::Certificate, "no certificate file was given (/f, or ?certificate= in the address)");
  std::optional<std::vector<TX509>> Certificates = ReadCertificateFile(Request.CertificateFile);
  if (!Certificates) return Refused(TKind::Certificate, "the certificate file cannot be read: " + Request.CertificateFile);
  TAwsCredentialsLookup Found = FindAwsCredentials();
  if (!Found.Problem.empty()) return Refused(TKind::NoCredentials, Found.Problem);
  auto Client = std::make_unique<TAwsKmsClient>(Request.Address.Host, std::move(Found.Credentials));

  const TCloudAnswer Answer = Client->Call("GetPublicKey", {{"KeyId", Request.Address.Path}}, Request.Link);
  if (Answer.Failure) return {nullptr, Answer.Failure, {}};
  const nlohmann::json Key = nlohmann::json::parse(Answer.Body, nullptr, false);
  const std::vector<std::uint8_t> Der = DecodeBase64(Key.is_object() ? Key.value("PublicKey", std::string()) : std::string());
  const unsigned char* Cursor = Der.data();
  const TPublicKey PublicKey(Der.empty() ? nullptr : d2i_PUBKEY(nullptr, &Cursor, static_cast<long>(Der.size())));
  std::vector<std::string> Algorithms;
  if (const auto Listed = Key.is_object() ? Key.find("SigningAlgorithms") : Key.end();
      Listed != Key.end() && Listed->is_array())
    for (const nlohmann::json& Algorithm : *Listed)
      if (Algorithm.is_string()) Algorithms.push_back(Algorithm.get<std::string>());
  if (!PublicKey || Algorithms.empty()) return Refused(TKind::Malformed, "the key's public key cannot be read");
  if (Key.value("KeyUsage", std::string()) != "SIGN_VERIFY")
    return Refused(TKind::Unsupported, "the key is not for signing (its key usage is " + Key.value("KeyUsage", std::string()) + ")");
  if (!PutSignerFirst(*Certificates, PublicKey.get()))
    return Refused(TKind::Certificate, "no certificate in " + Request.CertificateFile + " has the key's public key");
  return {std::make_unique<TAwsKmsKey>(std::move(*Certificates), Request, std::move(Client), std::move(Algorithms)), {}, {}};
}
