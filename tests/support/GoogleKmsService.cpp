#include "support/GoogleKmsService.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <nlohmann/json.hpp>

#include <stdexcept>

#include "common/Base64.h"
#include "common/OpenSslPtr.h"
#include "common/TextUtil.h"

namespace {
using TKeyContext = std::unique_ptr<EVP_PKEY_CTX, TOpenSslFree<EVP_PKEY_CTX_free>>;

}  // namespace

struct GoogleKmsService::TKey {
  std::unique_ptr<EVP_PKEY, TOpenSslFree<EVP_PKEY_free>> Private;
  std::string PublicPem;
};

THttpResponse GoogleError(int Status, const std::string& State, const std::string& Message) {
  const nlohmann::json Body{{"error", {{"code", Status}, {"message", Message}, {"status", State}}}};
  return {Status, "application/json; charset=UTF-8", Body.dump()};
}

GoogleKmsService::GoogleKmsService(const std::string& KeyPath, std::string Algorithm, std::string Token,
                                   LoopbackHttpServer::Handler Gate)
    : Key(std::make_unique<TKey>()), Algorithm(std::move(Algorithm)), Token(std::move(Token)) {
  const TBio File(BIO_new_file(KeyPath.c_str(), "r"));
  if (File) Key->Private.reset(PEM_read_bio_PrivateKey(File.get(), nullptr, nullptr, nullptr));
  const TBio Pem(BIO_new(BIO_s_mem()));
  if (!Key->Private || !Pem || PEM_write_bio_PUBKEY(Pem.get(), Key->Private.get()) != 1)
    throw std::runtime_error("cannot load the key " + KeyPath);
  char* Data = nullptr;
  const long Length = BIO_get_mem_data(Pem.get(), &Data);
  Key->PublicPem.assign(Data, static_cast<std::size_t>(Length));
  Http = std::make_unique<LoopbackHttpServer>([this, Gate = std::move(Gate)](const THttpRequest& Request) {
    if (Gate) {
      if (std::optional<THttpResponse> Instead = Gate(Request)) return Instead;
    }
    return std::optional<THttpResponse>(Answer(Request));
  });
}

GoogleKmsService::~GoogleKmsService() { Http.reset(); }

std::string GoogleKmsService::Endpoint() const { return Http->Url(""); }

std::string GoogleKmsService::Address(const std::string& CertificateFile) const {
  std::string Text = std::string("gcpkms://") + KeyName;
  if (!CertificateFile.empty()) Text += "?certificate=" + PercentEncode(CertificateFile);
  return Text;
}

std::string GoogleKmsService::LastRefusal() const {
  const std::lock_guard Guard(LastLock);
  return Last;
}

THttpResponse GoogleKmsService::Refuse(int Status, const std::string& State, const std::string& Message) {
  ++Refused;
  const std::lock_guard Guard(LastLock);
  Last = Message;
  return GoogleError(Status, State, Message);
}

THttpResponse GoogleKmsService::Answer(const THttpRequest& Request) {
  const auto Authorization = Request.Headers.find("authorization");
  if (Authorization == Request.Headers.end() || Authorization->second != "Bearer " + Token)
    return Refuse(401, "UNAUTHENTICATED", "Request had invalid authentication credentials.");
  const std::string Version = std::string("/v1/") + KeyName;
  if (Request.Method == "GET" && Request.Target == Version + "/publicKey") {
    ++PublicKeys;
    const nlohmann::json Body{{"pem", Key->PublicPem}, {"algorithm", Algorithm}, {"name", KeyName},
                              {"protectionLevel", "HSM"}};
    return {200, "application/json; charset=UTF-8", Body.dump()};
  }
  if (Request.Method == "POST" && Request.Target == Version + ":asymmetricSign") return Sign(Request);
  return Refuse(404, "NOT_FOUND", "no such method or key version: " + Request.Method + " " + Request.Target);
}

THttpResponse GoogleKmsService::Sign(const THttpRequest& Request) {
  const auto Type = Request.Headers.find("content-type");
  if (Type == Request.Headers.end() || Type->second.rfind("application/json", 0) != 0)
    return Refuse(400, "INVALID_ARGUMENT", "the body is not JSON");
  const nlohmann::json Body = nlohmann::json::parse(Request.Body, nullptr, false);
  const std::string Digest = Algorithm.substr(Algorithm.rfind('_') + 1);  // "SHA256"
  std::string Field = Digest;
  for (char& Character : Field) Character = static_cast<char>(std::tolower(static_cast<unsigned char>(Character)));
  if (!Body.is_object() || !Body.contains("digest") || !Body["digest"].is_object() || Body["digest"].size() != 1 ||
      !Body["digest"].contains(Field) || !Body["digest"][Field].is_string())
    return Refuse(400, "INVALID_ARGUMENT", "the digest must be given as digest." + Field);
  const std::vector<std::uint8_t> Value = DecodeBase64(Body["digest"][Field].get<std::string>());
  const EVP_MD* Md = EVP_get_digestbyname(Field.c_str());
  if (Value.size() != static_cast<std::size_t>(EVP_MD_get_size(Md)))
    return Refuse(400, "INVALID_ARGUMENT", "the digest's length does not fit the algorithm");
  const TKeyContext Context(EVP_PKEY_CTX_new(Key->Private.get(), nullptr));
  std::size_t Length = 0;
  if (!Context || EVP_PKEY_sign_init(Context.get()) != 1 || EVP_PKEY_CTX_set_signature_md(Context.get(), Md) != 1 ||
      EVP_PKEY_sign(Context.get(), nullptr, &Length, Value.data(), Value.size()) != 1)
    throw std::runtime_error("the test key cannot sign");
  std::vector<std::uint8_t> Signature(Length);
  if (EVP_PKEY_sign(Context.get(), Signature.data(), &Length, Value.data(), Value.size()) != 1)
    throw std::runtime_error("the test key cannot sign");
  Signature.resize(Length);
  ++Signed;
  const nlohmann::json Answer{{"signature", EncodeBase64(Signature)}, {"name", KeyName}, {"verifiedDigestCrc32c", false},
                              {"protectionLevel", "HSM"}};
  return {200, "application/json; charset=UTF-8", Answer.dump()};
}
