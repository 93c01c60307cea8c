#include "support/KeyVaultService.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <nlohmann/json.hpp>

#include <stdexcept>

#include "common/Base64.h"
#include "common/OpenSslPtr.h"

namespace {
using TKeyContext = std::unique_ptr<EVP_PKEY_CTX, TOpenSslFree<EVP_PKEY_CTX_free>>;
using TPrivateKey = std::unique_ptr<EVP_PKEY, TOpenSslFree<EVP_PKEY_free>>;
using TPkcs12 = std::unique_ptr<PKCS12, TOpenSslFree<PKCS12_free>>;
using TEcdsaSignature = std::unique_ptr<ECDSA_SIG, TOpenSslFree<ECDSA_SIG_free>>;

std::string FileText(const std::string& Path) {
  const TBio File(BIO_new_file(Path.c_str(), "r"));
  if (!File) throw std::runtime_error("cannot read " + Path);
  std::string Text;
  char Buffer[4096];
  for (int Read; (Read = BIO_read(File.get(), Buffer, sizeof Buffer)) > 0;) Text.append(Buffer, static_cast<std::size_t>(Read));
  return Text;
}

TX509 CertificateIn(const std::string& Pem) {
  const TBio Bio(BIO_new_mem_buf(Pem.data(), static_cast<int>(Pem.size())));
  TX509 Certificate(PEM_read_bio_X509(Bio.get(), nullptr, nullptr, nullptr));
  if (!Certificate) throw std::runtime_error("no certificate");
  return Certificate;
}

std::vector<std::uint8_t> Der(X509* Certificate) {
  unsigned char* Data = nullptr;
  const int Length = i2d_X509(Certificate, &Data);
  std::vector<std::uint8_t> Bytes(Data, Data + Length);
  OPENSSL_free(Data);
  return Bytes;
}

// R and S, each the curve's size, as a JSON Web Signature carries an EC signature.
std::vector<std::uint8_t> RawEcdsa(const std::vector<std::uint8_t>& DerSignature, int Half) {
  const unsigned char* Data = DerSignature.data();
  const TEcdsaSignature Signature(d2i_ECDSA_SIG(nullptr, &Data, static_cast<long>(DerSignature.size())));
  std::vector<std::uint8_t> Raw(static_cast<std::size_t>(2 * Half));
  if (!Signature || BN_bn2binpad(ECDSA_SIG_get0_r(Signature.get()), Raw.data(), Half) != Half ||
      BN_bn2binpad(ECDSA_SIG_get0_s(Signature.get()), Raw.data() + Half, Half) != Half)
    throw std::runtime_error("cannot convert the signature");
  return Raw;
}
}  // namespace

struct KeyVaultService::TMaterial {
  TPrivateKey Key;
  TX509 Leaf;
  std::string SecretPem;     // the leaf and the chain, no key (a non-exportable key's secret)
  std::string SecretPkcs12;  // the same, base64 PKCS #12 without a password
};

THttpResponse KeyVaultError(int Status, const std::string& Code, const std::string& Message) {
  const nlohmann::json Body{{"error", {{"code", Code}, {"message", Message}}}};
  return {Status, "application/json; charset=utf-8", Body.dump()};
}

KeyVaultService::KeyVaultService(const std::string& CertPath, const std::string& KeyPath, const std::string& ChainPath,
                                 std::string Token, TVaultSecret Secret, LoopbackHttpServer::Handler Gate)
    : Material(std::make_unique<TMaterial>()), Token(std::move(Token)), Secret(Secret) {
  const std::string KeyPem = FileText(KeyPath);
  const TBio KeyBio(BIO_new_mem_buf(KeyPem.data(), static_cast<int>(KeyPem.size())));
  Material->Key.reset(PEM_read_bio_PrivateKey(KeyBio.get(), nullptr, nullptr, nullptr));
  const std::string LeafPem = FileText(CertPath), ChainPem = FileText(ChainPath);
  Material->Leaf = CertificateIn(LeafPem);
  Material->SecretPem = LeafPem + ChainPem;
  const TX509 Chain = CertificateIn(ChainPem);
  STACK_OF(X509)* Others = sk_X509_new_null();
  sk_X509_push(Others, Chain.get());
  const TPkcs12 Pfx(PKCS12_create("", nullptr, nullptr, Material->Leaf.get(), Others, 0, 0, 0, 0, 0));
  sk_X509_free(Others);
  unsigned char* PfxDer = nullptr;
  const int PfxLength = Pfx ? i2d_PKCS12(Pfx.get(), &PfxDer) : 0;
  if (!Material->Key || PfxLength <= 0) throw std::runtime_error("cannot load the vault's key and certificate");
  Material->SecretPkcs12 = EncodeBase64({PfxDer, static_cast<std::size_t>(PfxLength)});
  OPENSSL_free(PfxDer);
  Http = std::make_unique<LoopbackHttpServer>([this, Gate = std::move(Gate)](const THttpRequest& Request) {
    if (Gate) {
      if (std::optional<THttpResponse> Instead = Gate(Request)) return Instead;
    }
    return std::optional<THttpResponse>(Answer(Request));
  });
}

KeyVaultService::~KeyVaultService() { Http.reset(); }

std::string KeyVaultService::Address() const {
  return "keyvault://127.0.0.1:" + std::to_string(Http->Port()) + "/" + CertificateName;
}

THttpResponse KeyVaultService::Answer(const THttpRequest& Request) {
  const auto Authorization = Request.Headers.find("authorization");
  if (Authorization == Request.Headers.end() || Authorization->second != "Bearer " + Token) {
    THttpResponse Refusal = KeyVaultError(401, "Unauthorized", "AKV10000: Request is missing a Bearer or PoP token.");
    Refusal.Headers["WWW-Authenticate"] = "Bearer authorization=\"https://login.microsoftonline.com/tenant\", resource=\"https://vault.azure.net\"";
    return Refusal;
  }
  const std::size_t Query = Request.Target.find('?');
  const std::string Path = Request.Target.substr(0, Query);
  if (Query == std::string::npos || Request.Target.substr(Query + 1) != "api-version=7.4")
    return KeyVaultError(400, "BadParameter", "The api-version is missing or not supported.");
  const std::string Base = Http->Url("");
  const std::string Name = std::string(CertificateName), Versioned = Name + "/" + Version;
  if (Request.Method == "GET" && (Path == "/certificates/" + Name || Path == "/certificates/" + Versioned)) {
    ++Certificates;
    const nlohmann::json Body{{"id", Base + "/certificates/" + Versioned}, {"kid", Base + "/keys/" + Versioned},
                              {"sid", Base + "/secrets/" + Versioned}, {"x5t", "fLi3U52HunIVNXubkEnf8tP6Wbo"},
                              {"cer", EncodeBase64(Der(Material->Leaf.get()))}, {"attributes", {{"enabled", true}}}};
    return {200, "application/json; charset=utf-8", Body.dump()};
  }
  if (Request.Method == "GET" && Path == "/secrets/" + Versioned) {
    ++Secrets;
    if (Secret == TVaultSecret::Forbidden)
      return KeyVaultError(403, "Forbidden", "The user does not have secrets get permission on key vault.");
    const bool Pem = Secret == TVaultSecret::Pem;
    const nlohmann::json Body{{"value", Pem ? Material->SecretPem : Material->SecretPkcs12},
                              {"contentType", Pem ? "application/x-pem-file" : "application/x-pkcs12"},
                              {"id", Base + "/secrets/" + Versioned}, {"kid", Base + "/keys/" + Versioned}, {"managed", true}};
    return {200, "application/json; charset=utf-8", Body.dump()};
  }
  if (Request.Method == "POST" && Path == "/keys/" + Versioned + "/sign") return Sign(Request);
  return KeyVaultError(404, "NotFound", "No such operation or object: " + Request.Method + " " + Path);
}

THttpResponse KeyVaultService::Sign(const THttpRequest& Request) {
  const nlohmann::json Body = nlohmann::json::parse(Request.Body, nullptr, false);
  const std::string Algorithm = Body.is_object() ? Body.value("alg", std::string()) : std::string();
  const std::vector<std::uint8_t> Digest =
      DecodeBase64Url(Body.is_object() ? Body.value("value", std::string()) : std::string());
  const bool Rsa = EVP_PKEY_is_a(Material->Key.get(), "RSA");
  const EVP_MD* Md = Algorithm.size() == 5 ? EVP_get_digestbyname(("SHA" + Algorithm.substr(2)).c_str()) : nullptr;
  if (!Md || Algorithm.substr(0, 2) != (Rsa ? "RS" : "ES") || Digest.size() != static_cast<std::size_t>(EVP_MD_get_size(Md)))
    return KeyVaultError(400, "BadParameter", "The algorithm does not fit the key, or the digest does not fit the algorithm.");
  const TKeyContext Context(EVP_PKEY_CTX_new(Material->Key.get(), nullptr));
  std::size_t Length = 0;
  if (!Context || EVP_PKEY_sign_init(Context.get()) != 1 || EVP_PKEY_CTX_set_signature_md(Context.get(), Md) != 1 ||
      EVP_PKEY_sign(Context.get(), nullptr, &Length, Digest.data(), Digest.size()) != 1)
    throw std::runtime_error("the vault's key cannot sign");
  std::vector<std::uint8_t> Signature(Length);
  if (EVP_PKEY_sign(Context.get(), Signature.data(), &Length, Digest.data(), Digest.size()) != 1)
    throw std::runtime_error("the vault's key cannot sign");
  Signature.resize(Length);
  if (!Rsa) Signature = RawEcdsa(Signature, (EVP_PKEY_get_bits(Material->Key.get()) + 7) / 8);
  ++Signed;
  const nlohmann::json Answer{{"kid", Http->Url("/keys/") + CertificateName + "/" + Version},
                              {"value", EncodeBase64Url(Signature)}};
  return {200, "application/json; charset=utf-8", Answer.dump()};
}
