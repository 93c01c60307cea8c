#pragma once
// AWS KMS on 127.0.0.1, written from AWS's KMS API reference: JSON 1.1 requests (POST "/",
// Content-Type application/x-amz-json-1.1, the operation in X-Amz-Target as
// "TrentService.Sign" or "TrentService.GetPublicKey"), each signed with Signature Version 4 for
// the service "kms" in the service's region by the one access key it knows. It holds one key, a
// test PKI key under a key id and an alias, signs digests with it (MessageType DIGEST), and
// answers errors as KMS does: HTTP 400 with {"__type", "message"}.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cloud/AwsSignature.h"
#include "support/LoopbackHttpServer.h"
#include "support/ServiceKey.h"

enum class TAwsKmsBehaviour {
  Answer,
  ThrottleFirst,  // the first Sign of each digest: ThrottlingException; the next is answered
  Deny,           // every request: AccessDeniedException, as for a key policy without kms:Sign
  Garble          // Sign answers 200 with JSON that holds no signature
};

class AwsKmsService {
 public:
  static constexpr const char* Region = "eu-central-1";
  static constexpr const char* KeyId = "0b2c4e6a-1d3f-4a5b-8c7d-9e0f1a2b3c4d";
  static constexpr const char* Alias = "alias/quillory-release";
  static constexpr const char* AccessKeyId = "AKIDQUILLORYTEST";
  static constexpr const char* SecretAccessKey = "quillory/test+secret";

  // SessionToken, when given, must come with every request (temporary credentials). Throws
  // std::runtime_error when the test PKI cannot be read.
  explicit AwsKmsService(TAwsKmsBehaviour Behaviour = TAwsKmsBehaviour::Answer, std::string SessionToken = {});
  ~AwsKmsService();

  // For AWS_ENDPOINT_URL_KMS.
  std::string Endpoint() const { return Http->Url(""); }
  // The credentials it takes.
  TAwsCredentials Credentials() const { return {AccessKeyId, SecretAccessKey, SessionToken}; }
  // "arn:aws:kms:<region>:111122223333:key/<key id>"
  static std::string KeyArn();

  int SignCount() const { return Signs; }
  int PublicKeyCount() const { return PublicKeys; }
  // Why each refused request was refused, in order.
  std::vector<std::string> Refusals() const;

 private:
  std::optional<THttpResponse> Answer(const THttpRequest& Request);
  // The request's signature problem; empty when it is signed right.
  std::string SignatureProblem(const THttpRequest& Request) const;
  THttpResponse Refuse(const std::string& Type, const std::string& Message);
  THttpResponse Sign(const std::string& Body);
  THttpResponse PublicKey(const std::string& Body);

  const TAwsKmsBehaviour Behaviour;
  const std::string SessionToken;
  TServiceKey Key;
  std::atomic<int> Signs = 0, PublicKeys = 0;
  mutable std::mutex Lock;
  std::vector<std::string> RefusalLog;
  std::vector<TBytes> Throttled;  // digests already throttled once
  std::unique_ptr<LoopbackHttpServer> Http;  // last: stops before the rest goes
};
