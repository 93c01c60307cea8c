#include "cloud/GoogleKmsKey.h"

#include <openssl/pem.h>

#include <nlohmann/json.hpp>

#include <cstdlib>

#include "cloud/AccessToken.h"
#include "cloud/BearerToken.h"
#include "cloud/CloudKey.h"
#include "common/Base64.h"
#include "common/TextUtil.h"
#include "keys/CertificateFile.h"

namespace {
using TKind = TCloudFailure::TKind;
using TPublicKey = std::unique_ptr<EVP_PKEY, TOpenSslFree<EVP_PKEY_free>>;
constexpr std::string_view ServiceName = "Google Cloud KMS";

std::string Endpoint() {
  const char* Variable = std::getenv(GoogleKmsEndpointVariable);
  std::string Found = Variable && *Variable ? Variable : "https://cloudkms.googleapis.com";
  while (!Found.empty() && Found.back() == '/') Found.pop_back();
  return Found;
}

// The digest a key version's algorithm signs, as the service names it in a request; empty for the
// algorithms Authenticode has no use for (PSS, raw PKCS #1, post-quantum ones).
std::string DigestOf(std::string_view Algorithm) {
  const bool Usable = Algorithm.starts_with("RSA_SIGN_PKCS1_") || Algorithm.starts_with("EC_SIGN_P") ||
                      Algorithm.starts_with("EC_SIGN_SECP256K1_");
  if (!Usable) return {};
  for (const char* Digest : {"SHA256", "SHA384", "SHA512"})
    if (Algorithm.ends_with(std::string("_") + Digest)) return AsciiLower(Digest);
  return {};
}

class TGoogleKmsKey final : public TCloudKey {
 public:
  TGoogleKmsKey(std::vector<TX509> Certificates, const TCloudKeyRequest& Request, TAccessToken Token, std::string Digest)
      : TCloudKey(std::string(ServiceName), std::move(Certificates), Request.Pace, Request.Link),
        Url(Endpoint() + "/v1/" + Request.Address.Path + ":asymmetricSign"),
        Token(std::move(Token), [](const TCloudLink& Link) { return GoogleAccessToken({}, Link); }),
        Digest(std::move(Digest)) {}

  TKeySignature SignDigest(std::span<const std::uint8_t> Value, const EVP_MD* Md) override {
    if (!SameTextAscii(EVP_MD_get0_name(Md), Digest))
      return {{}, "The Google Cloud KMS key signs " + AsciiLower(Digest) + " digests only: sign with /fd " + Digest + "."};
    const nlohmann::json Body{{"digest", {{Digest, EncodeBase64(Value)}}}};
    const TCloudAnswer Answer = Token.Call(
        [&](const std::string& Authorization) -> THttpCall {
          return {"POST", Url, {Authorization, "Content-Type: application/json"}, Body.dump(), {}};
        },
        Link);
    return SignatureIn(Answer, "signature", Value, Md);
  }

 private:
  const std::string Url;
  const TBearerToken Token;
  const std::string Digest;  // "sha256", "sha384" or "sha512"
};

TCloudKeyOpening Refused(TKind Kind, std::string Detail) { return {nullptr, {Kind, std::move(Detail)}, {}}; }
}  // namespace

TCloudKeyOpening OpenGoogleKmsKey(const TCloudKeyRequest& Request) {
  if (Request.CertificateFile.empty())
    return Refused(TKind::Certificate, "no certificate file was given (/f, or ?certificate= in the address)");
  std::optional<std::vector<TX509>> Certificates = ReadCertificateFile(Request.CertificateFile);
  if (!Certificates) return Refused(TKind::Certificate, "the certificate file cannot be read: " + Request.CertificateFile);
  TAccessToken Token = GoogleAccessToken(Request.Secret, Request.Link);
  if (Token.Failure) return {nullptr, Token.Failure, {}};

  const TCloudAnswer Answer = CallCloud(
      {"GET", Endpoint() + "/v1/" + Request.Address.Path + "/publicKey", {BearerHeader(Token)}, {}, {}}, Request.Link);
  if (Answer.Failure) return {nullptr, Answer.Failure, {}};
  const nlohmann::json Key = nlohmann::json::parse(Answer.Body, nullptr, false);
  const std::string Pem = Key.is_object() ? Key.value("pem", std::string()) : std::string();
  const std::string Algorithm = Key.is_object() ? Key.value("algorithm", std::string()) : std::string();
  const TBio Bio(BIO_new_mem_buf(Pem.data(), static_cast<int>(Pem.size())));
  const TPublicKey PublicKey(Bio ? PEM_read_bio_PUBKEY(Bio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!PublicKey || Algorithm.empty()) return Refused(TKind::Malformed, "the key version's public key cannot be read");
  std::string Digest = DigestOf(Algorithm);
  if (Digest.empty()) return Refused(TKind::Unsupported, "its algorithm is " + Algorithm);
  if (!PutSignerFirst(*Certificates, PublicKey.get()))
    return Refused(TKind::Certificate, "no certificate in " + Request.CertificateFile + " has the key version's public key");
  return {std::make_unique<TGoogleKmsKey>(std::move(*Certificates), Request, std::move(Token), std::move(Digest)), {}, {}};
}
