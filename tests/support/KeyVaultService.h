#pragma once
// Azure Key Vault on 127.0.0.1, as its REST reference describes the calls a signer makes, each
// with api-version=7.4 and a bearer token: Get Certificate (GET /certificates/{name}[/{version}]),
// Get Secret for the certificate's chain (GET /secrets/{name}/{version}) and the key's Sign
// (POST /keys/{name}/{version}/sign). It holds one certificate, signs with a key of the test PKI,
// answers errors in Key Vault's JSON error form, and counts what it was asked.
#include <atomic>
#include <memory>
#include <string>

#include "support/LoopbackHttpServer.h"

// How the certificate's secret comes out.
enum class TVaultSecret { Pem, Pkcs12, Forbidden };

class KeyVaultService {
 public:
  static constexpr const char* CertificateName = "release-signer";
  static constexpr const char* Version = "4f2b6d0e9a8c4b71a3e5f60718293a4b";

  // CertPath and KeyPath: the certificate and its PEM private key; ChainPath: a certificate that
  // the secret holds besides it. Token: the only one it accepts. Gate sees each request first; an
  // answer from it goes out instead.
  KeyVaultService(const std::string& CertPath, const std::string& KeyPath, const std::string& ChainPath, std::string Token,
                  TVaultSecret Secret = TVaultSecret::Pem, LoopbackHttpServer::Handler Gate = nullptr);
  ~KeyVaultService();
  KeyVaultService(const KeyVaultService&) = delete;
  KeyVaultService& operator=(const KeyVaultService&) = delete;

  std::string Address() const;  // keyvault://127.0.0.1:<port>/release-signer
  int CertificateReads() const { return Certificates; }
  int SecretReads() const { return Secrets; }
  int Signatures() const { return Signed; }

 private:
  THttpResponse Answer(const THttpRequest& Request);
  THttpResponse Sign(const THttpRequest& Request);

  struct TMaterial;
  std::unique_ptr<TMaterial> Material;
  std::string Token;
  TVaultSecret Secret;
  std::atomic<int> Certificates = 0, Secrets = 0, Signed = 0;
  std::unique_ptr<LoopbackHttpServer> Http;  // last: stops before the rest goes
};

// Key Vault's JSON error answer.
THttpResponse KeyVaultError(int Status, const std::string& Code, const std::string& Message);
