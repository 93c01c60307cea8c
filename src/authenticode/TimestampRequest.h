#pragma once
// The request sent to a timestamp server for one signature value (the signer info's encrypted
// digest), and what its answer has to match.
#include <openssl/evp.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "authenticode/TimestampProtocol.h"

struct TTimestampRequest {
  TTimestampProtocol Protocol = TTimestampProtocol::Rfc3161;
  std::string ContentType;  // of the body, and the type of answer asked for
  std::string Body;
  // RFC 3161: the digest of the signature value, its algorithm (NID) and the request's nonce.
  // Authenticode: the signature value itself.
  std::vector<std::uint8_t> Imprint;
  int ImprintAlgorithm = 0;
  std::uint64_t Nonce = 0;
};

// A TimeStampReq (version 1) with a random 64-bit nonce that asks for the server's certificate.
// Throws std::runtime_error when OpenSSL cannot build it (out of memory, no random bytes).
TTimestampRequest MakeRfc3161Request(std::span<const std::uint8_t> SignatureValue, const EVP_MD* Digest);
// Microsoft's TimeStampRequest (1.3.6.1.4.1.311.3.2.1 with the value as pkcs7-data), base64
// encoded in lines of 64 characters.
TTimestampRequest MakeAuthenticodeRequest(std::span<const std::uint8_t> SignatureValue);
