#pragma once
// What a key agent and its clients say to each other over a local stream socket. Every message is a
// frame: a 32-bit little-endian length, then that many bytes of body. A request's body is a kind
// byte and its fields; a reply's body is a status byte and the answer. Both sides read every field
// against the frame's bounds, and neither accepts a frame larger than its limit.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "authenticode/HttpCall.h"
#include "authenticode/SigningKey.h"

constexpr std::size_t AgentFrameHeaderSize = 4;
// A request carries a timestamp request at most.
constexpr std::uint32_t MaxAgentRequestSize = 64 * 1024;
// A reply carries a certificate chain or an HTTP answer at most.
constexpr std::uint32_t MaxAgentReplySize = std::uint32_t{4} << 20;

enum class TAgentRequestKind : std::uint8_t { Certificates = 1, Sign = 2, Http = 3 };

struct TAgentRequest {
  TAgentRequestKind Kind = TAgentRequestKind::Certificates;
  const EVP_MD* Md = nullptr;  // for Sign
  std::vector<std::uint8_t> Digest;
  THttpCall Http;                  // for Http
  std::chrono::milliseconds HttpTime{0};  // how long the call may take
};

// The body's length from a frame's header, or nothing when it is empty or longer than Limit.
std::optional<std::uint32_t> AgentFrameLength(std::span<const std::uint8_t> Header, std::uint32_t Limit);
std::vector<std::uint8_t> AgentFrame(std::span<const std::uint8_t> Body);

std::vector<std::uint8_t> CertificatesRequest();
// Nothing when Md is not one the protocol carries or Digest is not as long as its hashes.
std::optional<std::vector<std::uint8_t>> SignRequest(std::span<const std::uint8_t> Digest, const EVP_MD* Md);
// Nothing when the call does not fit in a request.
std::optional<std::vector<std::uint8_t>> HttpRequest(const THttpCall& Call, std::chrono::milliseconds Time);
// Nothing for any body that is not exactly one well-formed request.
std::optional<TAgentRequest> ParseAgentRequest(std::span<const std::uint8_t> Body);

// The signer's certificate first, then its chain, each DER-encoded; nothing when one cannot be.
std::optional<std::vector<std::uint8_t>> CertificatesReply(X509* Certificate, const std::vector<X509*>& Chain);
std::vector<std::uint8_t> SignReply(const TKeySignature& Signature);
std::vector<std::uint8_t> FailureReply(const std::string& Message);
std::vector<std::uint8_t> HttpReply(const THttpAnswer& Answer);

struct TAgentCertificates {
  std::vector<std::vector<std::uint8_t>> Der;  // the signer's first
  std::string Error;                           // the agent's own, when it could not give them
};
// Nothing for a body that is not a well-formed reply.
std::optional<TAgentCertificates> ParseCertificatesReply(std::span<const std::uint8_t> Body);
std::optional<TKeySignature> ParseSignReply(std::span<const std::uint8_t> Body);
std::optional<THttpAnswer> ParseHttpReply(std::span<const std::uint8_t> Body);
