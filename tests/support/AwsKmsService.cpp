#include "support/AwsKmsService.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <optional>

#include "common/Base64.h"
#include "support/TestPki.h"

namespace {
using nlohmann::json;

// "Credential=AKID/20150830/us-east-1/kms/aws4_request, SignedHeaders=host;x-amz-date, Signature=…"
struct TAuthorization {
  std::string AccessKeyId;
  TAwsScope Scope;
  std::vector<std::string> SignedHeaders;
  std::string Signature;
};

std::vector<std::string> Split(const std::string& Text, char Separator) {
  std::vector<std::string> Parts;
  std::size_t Start = 0;
  for (std::size_t End; (End = Text.find(Separator, Start)) != std::string::npos; Start = End + 1)
    Parts.push_back(Text.substr(Start, End - Start));
  Parts.push_back(Text.substr(Start));
  return Parts;
}

std::optional<TAuthorization> ParseAuthorization(const std::string& Header) {
  const std::string Prefix = "AWS4-HMAC-SHA256 ";
  if (!Header.starts_with(Prefix)) return std::nullopt;
  TAuthorization Parsed;
  for (std::string Part : Split(Header.substr(Prefix.size()), ',')) {
    Part.erase(0, Part.find_first_not_of(' '));
    const std::size_t Equals = Part.find('=');
    if (Equals == std::string::npos) return std::nullopt;
    const std::string Name = Part.substr(0, Equals), Value = Part.substr(Equals + 1);
    if (Name == "Credential") {
      const std::vector<std::string> Fields = Split(Value, '/');
      if (Fields.size() != 5 || Fields[4] != "aws4_request") return std::nullopt;
      Parsed.AccessKeyId = Fields[0];
      Parsed.Scope = {Fields[1], Fields[2], Fields[3]};
    } else if (Name == "SignedHeaders") {
      Parsed.SignedHeaders = Split(Value, ';');
    } else if (Name == "Signature") {
      Parsed.Signature = Value;
    }
  }
  if (Parsed.AccessKeyId.empty() || Parsed.Signature.empty()) return std::nullopt;
  return Parsed;
}

// X-Amz-Date within the quarter of an hour AWS allows either way.
bool IsCurrent(const std::string& AmzDate) {
  std::tm Moment{};
  if (AmzDate.size() != 16 || ::strptime(AmzDate.c_str(), "%Y%m%dT%H%M%SZ", &Moment) == nullptr) return false;
  return std::abs(std::difftime(::timegm(&Moment), std::time(nullptr))) <= 15 * 60;
}

const EVP_MD* DigestOfAlgorithm(const std::string& Algorithm, bool Rsa) {
  const std::string Family = Rsa ? "RSASSA_PKCS1_V1_5_SHA_" : "ECDSA_SHA_";
  if (Algorithm == Family + "256") return EVP_sha256();
  if (Algorithm == Family + "384") return EVP_sha384();
  if (Algorithm == Family + "512") return EVP_sha512();
  return nullptr;
}

THttpResponse JsonAnswer(int Status, const json& Body) {
  return {Status, "application/x-amz-json-1.1", Body.dump(), {{"x-amzn-RequestId", "quillory-test"}}};
}
}  // namespace

AwsKmsService::AwsKmsService(TAwsKmsBehaviour Behaviour, std::string SessionToken)
    : Behaviour(Behaviour),
      SessionToken(std::move(SessionToken)),
      Key(TestPki().SignerKeyPath, {TestPki().SignerCertPath, TestPki().CaCertPath}),
      Http(std::make_unique<LoopbackHttpServer>([this](const THttpRequest& Request) { return Answer(Request); })) {}

AwsKmsService::~AwsKmsService() { Http.reset(); }

std::string AwsKmsService::KeyArn() { return std::string("arn:aws:kms:") + Region + ":111122223333:key/" + KeyId; }

std::vector<std::string> AwsKmsService::Refusals() const {
  const std::lock_guard Guard(Lock);
  return RefusalLog;
}

THttpResponse AwsKmsService::Refuse(const std::string& Type, const std::string& Message) {
  {
    const std::lock_guard Guard(Lock);
    RefusalLog.push_back(Type + ": " + Message);
  }
  return JsonAnswer(400, {{"__type", Type}, {"message", Message}});
}

std::string AwsKmsService::SignatureProblem(const THttpRequest& Request) const {
  const auto Header = [&Request](const std::string& Name) {
    const auto Found = Request.Headers.find(Name);
    return Found != Request.Headers.end() ? Found->second : std::string();
  };
  const std::optional<TAuthorization> Authorization = ParseAuthorization(Header("authorization"));
  if (!Authorization) return "no Signature Version 4 Authorization header";
  if (Authorization->AccessKeyId != AccessKeyId) return "unknown access key " + Authorization->AccessKeyId;
  if (Header("x-amz-security-token") != SessionToken) return "wrong or missing session token";
  const std::string AmzDate = Header("x-amz-date");
  if (!IsCurrent(AmzDate) || Authorization->Scope.Date != AmzDate.substr(0, 8)) return "X-Amz-Date missing, stale or not the scope's";
  if (Authorization->Scope.Region != Region || Authorization->Scope.Service != "kms")
    return "credential scoped to " + Authorization->Scope.Text();
  for (const char* Required : {"host", "x-amz-date", "x-amz-target", "content-type"})
    if (std::find(Authorization->SignedHeaders.begin(), Authorization->SignedHeaders.end(), Required) ==
        Authorization->SignedHeaders.end())
      return std::string(Required) + " is not signed";
  TAwsRequest Signed{Request.Method, Request.Target, {}, Request.Body};
  for (const std::string& Name : Authorization->SignedHeaders) {
    if (Request.Headers.count(Name) == 0) return "signed header " + Name + " was not sent";
    Signed.Headers.emplace_back(Name, Request.Headers.at(Name));
  }
  const std::string Expected = AwsSignature(AwsSigningKey(SecretAccessKey, Authorization->Scope),
                                            AwsStringToSign(AmzDate, Authorization->Scope, AwsCanonicalRequest(Signed)));
  return Expected == Authorization->Signature ? "" : "signature mismatch";
}

std::optional<THttpResponse> AwsKmsService::Answer(const THttpRequest& Request) {
  const auto Target = Request.Headers.find("x-amz-target");
  const auto ContentType = Request.Headers.find("content-type");
  if (Request.Method != "POST" || Request.Target != "/" || ContentType == Request.Headers.end() ||
      ContentType->second != "application/x-amz-json-1.1" || Target == Request.Headers.end())
    return Refuse("UnknownOperationException", "not a JSON 1.1 request to /");
  if (const std::string Problem = SignatureProblem(Request); !Problem.empty())
    return Refuse(Problem.starts_with("unknown access key") || Problem.starts_with("wrong or missing session")
                      ? "UnrecognizedClientException"
                      : "InvalidSignatureException",
                  Problem);
  if (Behaviour == TAwsKmsBehaviour::Deny)
    return Refuse("AccessDeniedException", "User is not authorized to perform: kms:Sign on this resource");
  if (Target->second == "TrentService.GetPublicKey") return PublicKey(Request.Body);
  if (Target->second != "TrentService.Sign") return Refuse("UnknownOperationException", Target->second);
  return Sign(Request.Body);
}

THttpResponse AwsKmsService::Sign(const std::string& Body) {
  const json Request = json::parse(Body, nullptr, false);
  if (!Request.is_object()) return Refuse("SerializationException", "the body is no JSON object");
  const std::string KeyName = Request.value("KeyId", "");
  if (KeyName != KeyId && KeyName != Alias && KeyName != KeyArn() &&
      KeyName != std::string("arn:aws:kms:") + Region + ":111122223333:" + Alias)
    return Refuse("NotFoundException", "Key '" + KeyName + "' does not exist");
  if (Request.value("MessageType", "") != "DIGEST") return Refuse("ValidationException", "only digests are signed here");
  const EVP_MD* Md = DigestOfAlgorithm(Request.value("SigningAlgorithm", ""), Key.IsRsa());
  if (Md == nullptr) return Refuse("InvalidKeyUsageException", "the key does not sign with that algorithm");
  const TBytes Digest = DecodeBase64(Request.value("Message", ""));
  const TBytes Signature = Key.SignDigest(Digest, Md);
  if (Signature.empty()) return Refuse("ValidationException", "Digest is invalid length for algorithm");
  if (Behaviour == TAwsKmsBehaviour::ThrottleFirst) {
    const std::lock_guard Guard(Lock);
    if (std::find(Throttled.begin(), Throttled.end(), Digest) == Throttled.end()) {
      Throttled.push_back(Digest);
      RefusalLog.push_back("ThrottlingException");
      return JsonAnswer(400, {{"__type", "ThrottlingException"}, {"message", "Rate exceeded"}});
    }
  }
  ++Signs;
  if (Behaviour == TAwsKmsBehaviour::Garble) return JsonAnswer(200, {{"KeyId", KeyArn()}, {"Signature", 42}});
  return JsonAnswer(200, {{"KeyId", KeyArn()},
                          {"Signature", EncodeBase64(Signature)},
                          {"SigningAlgorithm", Request.value("SigningAlgorithm", "")}});
}

THttpResponse AwsKmsService::PublicKey(const std::string& Body) {
  const json Request = json::parse(Body, nullptr, false);
  const std::string KeyName = Request.is_object() ? Request.value("KeyId", "") : "";
  if (KeyName != KeyId && KeyName != Alias && KeyName != KeyArn())
    return Refuse("NotFoundException", "Key '" + KeyName + "' does not exist");
  ++PublicKeys;
  const char* const Bits[] = {"256", "384", "512"};
  json Algorithms = json::array();
  for (const char* Size : Bits) Algorithms.push_back((Key.IsRsa() ? "RSASSA_PKCS1_V1_5_SHA_" : "ECDSA_SHA_") + std::string(Size));
  return JsonAnswer(200, {{"KeyId", KeyArn()},
                          {"PublicKey", EncodeBase64(Key.PublicKeyDer())},
                          {"KeySpec", Key.IsRsa() ? "RSA_2048" : "ECC_NIST_P256"},
                          {"KeyUsage", "SIGN_VERIFY"},
                          {"SigningAlgorithms", Algorithms}});
}
