#pragma once
// The two ways of asking a server for a timestamp, and what a granted one adds to a signature.
#include <cstdint>
#include <string>
#include <vector>

enum class TTimestampProtocol {
  Rfc3161,      // signtool's /tr with /td: a TimeStampToken over a digest of the signature value
  Authenticode  // signtool's /t: a PKCS#9 countersignature over the signature value itself
};

// A timestamp checked against the request it answers, ready for the signer's unsigned attributes.
struct TTimestampToken {
  TTimestampProtocol Protocol = TTimestampProtocol::Rfc3161;
  // DER of the attribute's value: the TimeStampToken (a PKCS#7 ContentInfo) for RFC 3161, the
  // countersignature's SignerInfo for Authenticode.
  std::vector<std::uint8_t> AttributeValue;
  // Authenticode only: the certificates the server's answer carried (DER), which the signature
  // needs so that the countersignature can be checked.
  std::vector<std::vector<std::uint8_t>> Certificates;
  std::int64_t Time = 0;  // the stamped time, seconds since 1970 UTC
  std::string Server;     // the address that granted it
};
