#pragma once
// What the Authenticode signatures of a PE file or a cabinet say: read from its PKCS#7
// signed-data structure, including signatures nested inside another one.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "authenticode/SignedContainer.h"

struct TSignatureInfo {
  std::string Signer;           // the signing certificate's common name, else its whole subject
  std::string Issuer;           // the issuer's common name, else its whole name
  std::string SerialNumber;     // the signing certificate's serial, hex bytes separated by blanks
  std::string DigestAlgorithm;  // e.g. "sha256"
  // Seconds since 1970-01-01 UTC.
  std::optional<std::int64_t> ValidFrom;
  std::optional<std::int64_t> ValidTo;
  std::optional<std::int64_t> TimestampTime;  // from a countersignature or an RFC 3161 token
  int NestingLevel = 0;                       // 0 for the primary signature
};

struct TAuthenticodeInfo {
  bool HasCertificateTable = false;  // the table may be present and still hold nothing readable
  std::vector<TSignatureInfo> Signatures;
  std::size_t MoreSignatures = 0;  // found beyond those read, and only counted
};

// Enough for any file signed for real; more are only counted, so that a file crafted to carry
// thousands of signatures is still read at once.
inline constexpr std::size_t MaxReadSignatures = 64;

// Reads the first MaxSignatures signatures, the primary one followed by those nested in it, and
// counts the rest. From one PKCS#7 signature's DER.
TAuthenticodeInfo ReadAuthenticodeSignedData(std::span<const std::uint8_t> Der,
                                             std::size_t MaxSignatures = MaxReadSignatures);
// The same from the signature the locator found in a file: nothing for an unsigned file; a
// damaged or misplaced signature is there all the same.
TAuthenticodeInfo ReadAuthenticodeInfo(const TSignedContainer& Container, std::size_t MaxSignatures = MaxReadSignatures);
