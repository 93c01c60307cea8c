#include "cloud/KeyVaultKey.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <nlohmann/json.hpp>

#include "cloud/AccessToken.h"
#include "cloud/BearerToken.h"
#include "cloud/CloudKey.h"
#include "common/Base64.h"
#include "common/TextUtil.h"
#include "keys/PfxKey.h"

namespace {
using TKind = TCloudFailure::TKind;
constexpr std::string_view ServiceName = "Azure Key Vault";
constexpr std::string_view ApiVersion = "api-version=7.4";
constexpr const char* VaultResource = "https://vault.azure.net";

using TPkcs12 = std::unique_ptr<PKCS12, TOpenSslFree<PKCS12_free>>;
using TPrivateKey = std::unique_ptr<EVP_PKEY, TOpenSslFree<EVP_PKEY_free>>;
using TCertificateStack = std::unique_ptr<STACK_OF(X509), TOpenSslFree<FreeCertificateList>>;
using TEcdsaSignature = std::unique_ptr<ECDSA_SIG, TOpenSslFree<ECDSA_SIG_free>>;

TCloudKeyOpening Refused(TKind Kind, std::string Detail) { return {nullptr, {Kind, std::move(Detail)}, {}}; }

nlohmann::json Json(const std::string& Body) { return nlohmann::json::parse(Body, nullptr, false); }

std::string Text(const nlohmann::json& Object, const char* Key) {
  if (!Object.is_object()) return {};
  const auto Found = Object.find(Key);
  return Found != Object.end() && Found->is_string() ? Found->get<std::string>() : std::string();
}

std::optional<TX509> CertificateOf(const std::vector<std::uint8_t>& Der) {
  const unsigned char* Data = Der.data();
  TX509 Certificate(d2i_X509(nullptr, &Data, static_cast<long>(Der.size())));
  if (!Certificate || Data != Der.data() + Der.size()) return std::nullopt;
  return Certificate;
}

// The certificates in the secret's value, a PEM file or a base64 PKCS #12 without a password,
// as the vault keeps a certificate's secret. A private key in it is dropped.
std::vector<TX509> CertificatesInSecret(const std::string& Value, const std::string& ContentType) {
  std::vector<TX509> Found;
  if (ContentType == "application/x-pkcs12") {
    std::vector<std::uint8_t> Der = DecodeBase64(Value);
    const unsigned char* Data = Der.data();
    const TPkcs12 Pfx(d2i_PKCS12(nullptr, &Data, static_cast<long>(Der.size())));
    OPENSSL_cleanse(Der.data(), Der.size());
    EVP_PKEY* Key = nullptr;
    X509* Leaf = nullptr;
    STACK_OF(X509)* Others = nullptr;
    if (Pfx && PKCS12_parse(Pfx.get(), "", &Key, &Leaf, &Others) == 1) {
      const TPrivateKey Dropped(Key);
      const TCertificateStack List(Others);
      if (Leaf != nullptr) Found.emplace_back(Leaf);
      while (List && sk_X509_num(List.get()) > 0) Found.emplace_back(sk_X509_shift(List.get()));
    }
    return Found;
  }
  // PEM_read_bio_X509 passes over blocks of other kinds, a private key's among them.
  const TBio Bio(BIO_new_mem_buf(Value.data(), static_cast<int>(Value.size())));
  while (Bio) {
    TX509 Certificate(PEM_read_bio_X509(Bio.get(), nullptr, nullptr, nullptr));
    if (!Certificate) break;
    Found.push_back(std::move(Certificate));
  }
  return Found;
}

// The JSON Web Algorithm that signs a digest made with Md with Key; empty when there is none.
std::string AlgorithmFor(EVP_PKEY* Key, const EVP_MD* Md) {
  const std::string Digest = EVP_MD_get0_name(Md);
  const std::string Bits = SameTextAscii(Digest, "SHA256") ? "256" : SameTextAscii(Digest, "SHA384") ? "384"
                           : SameTextAscii(Digest, "SHA512")                                          ? "512"
                                                                                                      : "";
  if (Bits.empty()) return {};
  if (EVP_PKEY_is_a(Key, "RSA")) return "RS" + Bits;
  if (!EVP_PKEY_is_a(Key, "EC")) return {};
  // An EC key signs with the digest of its curve's size only.
  const int KeyBits = EVP_PKEY_get_bits(Key);
  const std::string Expected = KeyBits == 256 ? "256" : KeyBits == 384 ? "384" : KeyBits == 521 ? "512" : "";
  return Expected == Bits ? "ES" + Bits : std::string();
}

// A JSON Web Signature's EC signature (R and S, each the curve's size) as DER ECDSA-Sig-Value.
std::vector<std::uint8_t> DerEcdsa(const std::vector<std::uint8_t>& Raw) {
  if (Raw.empty() || Raw.size() % 2 != 0) return {};
  const int Half = static_cast<int>(Raw.size() / 2);
  TEcdsaSignature Signature(ECDSA_SIG_new());
  BIGNUM* R = BN_bin2bn(Raw.data(), Half, nullptr);
  BIGNUM* S = BN_bin2bn(Raw.data() + Half, Half, nullptr);
  if (!Signature || !R || !S || ECDSA_SIG_set0(Signature.get(), R, S) != 1) {
    BN_free(R);
    BN_free(S);
    return {};
  }
  unsigned char* Der = nullptr;
  const int Length = i2d_ECDSA_SIG(Signature.get(), &Der);
  if (Length <= 0) return {};
  std::vector<std::uint8_t> Bytes(Der, Der + Length);
  OPENSSL_free(Der);
  return Bytes;
}

class TKeyVaultKey final : public TCloudKey {
 public:
  TKeyVaultKey(std::vector<TX509> Certificates, const TCloudKeyRequest& Request, TAccessToken Token, std::string KeyId)
      : TCloudKey(std::string(ServiceName), std::move(Certificates), Request.Pace, Request.Link),
        Url(std::move(KeyId) + "/sign?" + std::string(ApiVersion)),
        Token(std::move(Token), [](const TCloudLink& Link) { return AzureAccessToken({}, VaultResource, Link); }) {}

  TKeySignature SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) override {
    EVP_PKEY* Key = X509_get0_pubkey(Certificate());
    const std::string Algorithm = AlgorithmFor(Key, Md);
    if (Algorithm.empty())
      return {{}, "The Azure Key Vault key cannot sign " + std::string(EVP_MD_get0_name(Md)) + " digests; choose another /fd."};
    const nlohmann::json Body{{"alg", Algorithm}, {"value", EncodeBase64Url(Digest)}};
    const TCloudAnswer Answer = Token.Call(
        [&](const std::string& Authorization) -> THttpCall {
          return {"POST", Url, {Authorization, "Content-Type: application/json"}, Body.dump(), {}};
        },
        Link);
    if (Answer.Failure) return Failed(Answer.Failure);
    std::vector<std::uint8_t> Signature = DecodeBase64Url(Text(Json(Answer.Body), "value"));
    if (Signature.empty()) return Failed({TKind::Malformed, "the answer has no signature"});
    if (Algorithm.starts_with("ES")) Signature = DerEcdsa(Signature);
    return Verified(std::move(Signature), Digest, Md);
  }

 private:
  const std::string Url;
  const TBearerToken Token;
};
}  // namespace

TCloudKeyOpening OpenKeyVaultKey(const TCloudKeyRequest& Request) {
  const std::string Vault = ServiceUrl(Request.Address.Host);
  TAccessToken Token = AzureAccessToken(Request.Secret, VaultResource, Request.Link);
  if (Token.Failure) return {nullptr, Token.Failure, {}};

  const TCloudAnswer Bundle = CallCloud(
      {"GET", Vault + "/certificates/" + Request.Address.Path + "?" + std::string(ApiVersion), {BearerHeader(Token)}, {}, {}},
      Request.Link);
  if (Bundle.Failure) return {nullptr, Bundle.Failure, {}};
  const nlohmann::json Certificate = Json(Bundle.Body);
  const std::optional<TX509> Leaf = CertificateOf(DecodeBase64(Text(Certificate, "cer")));
  const std::string KeyId = Text(Certificate, "kid");
  const std::string SecretId = Text(Certificate, "sid");
  if (!Leaf || KeyId.empty()) return Refused(TKind::Malformed, "the certificate or its key's identifier cannot be read");
  // The token goes to this vault and nowhere else.
  if (UrlHost(KeyId) != UrlHost(Vault) || (!SecretId.empty() && UrlHost(SecretId) != UrlHost(Vault)))
    return Refused(TKind::Malformed, "the certificate names a key in another vault: " + KeyId);

  std::vector<TX509> Certificates;
  Certificates.push_back(TX509(X509_dup(Leaf->get())));
  if (!SecretId.empty()) {
    TCloudAnswer Secret =
        CallCloud({"GET", SecretId + "?" + std::string(ApiVersion), {BearerHeader(Token)}, {}, {}}, Request.Link);
    // Without the right to read secrets the signature carries the certificate alone.
    if (Secret.Failure && Secret.Failure.Kind != TKind::Forbidden) return {nullptr, Secret.Failure, {}};
    const nlohmann::json Value = Json(Secret.Body);
    for (TX509& Found : CertificatesInSecret(Text(Value, "value"), Text(Value, "contentType")))
      if (X509_cmp(Found.get(), Leaf->get()) != 0) Certificates.push_back(std::move(Found));
    OPENSSL_cleanse(Secret.Body.data(), Secret.Body.size());
  }
  return {std::make_unique<TKeyVaultKey>(std::move(Certificates), Request, std::move(Token), KeyId), {}, {}};
}
