#pragma once
// Google Cloud KMS on 127.0.0.1, as its REST reference describes the two calls a signer makes:
// GET v1/{key version}/publicKey and POST v1/{key version}:asymmetricSign, each with a bearer
// token. It holds one key version, signs with a key of the test PKI, answers errors in Google's
// JSON error form, and counts what it was asked.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "support/LoopbackHttpServer.h"

class GoogleKmsService {
 public:
  static constexpr const char* KeyName =
      "projects/quillory/locations/europe-west1/keyRings/release/cryptoKeys/signer/cryptoKeyVersions/1";

  // KeyPath: the PEM private key it signs with; Algorithm: the key version's, as the service names
  // it ("RSA_SIGN_PKCS1_2048_SHA256", "EC_SIGN_P256_SHA256"); Token: the only one it accepts.
  // Gate sees each request first; an answer from it goes out instead.
  GoogleKmsService(const std::string& KeyPath, std::string Algorithm, std::string Token,
                   LoopbackHttpServer::Handler Gate = nullptr);
  ~GoogleKmsService();
  GoogleKmsService(const GoogleKmsService&) = delete;
  GoogleKmsService& operator=(const GoogleKmsService&) = delete;

  std::string Endpoint() const;  // for QUILLORY_GCPKMS_ENDPOINT
  std::string Address(const std::string& CertificateFile = {}) const;  // gcpkms://…, with ?certificate=
  int PublicKeyReads() const { return PublicKeys; }
  int Signatures() const { return Signed; }
  // Requests refused for their form (path, token, body), with the last one's reason.
  int Refusals() const { return Refused; }
  std::string LastRefusal() const;

 private:
  THttpResponse Answer(const THttpRequest& Request);
  THttpResponse Refuse(int Status, const std::string& State, const std::string& Message);
  THttpResponse Sign(const THttpRequest& Request);

  struct TKey;
  std::unique_ptr<TKey> Key;
  std::string Algorithm, Token;
  std::atomic<int> PublicKeys = 0, Signed = 0, Refused = 0;
  mutable std::mutex LastLock;
  std::string Last;
  std::unique_ptr<LoopbackHttpServer> Http;  // last: stops before the rest goes
};

// Google's JSON error answer.
THttpResponse GoogleError(int Status, const std::string& State, const std::string& Message);
