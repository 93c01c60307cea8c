#pragma once
// What the Authenticode signatures of a PE file or a cabinet say: read from the PE certificate
// table's WIN_CERTIFICATE entries or a cabinet's signature area, each a PKCS#7 signed-data
// structure, including signatures nested inside another one.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// Reads the first MaxSignatures signatures, primary ones in table order, each followed by those
// nested in it, and counts the rest. From a whole image held in memory.
TAuthenticodeInfo ReadAuthenticodeInfo(std::span<const std::uint8_t> Image,
                                       std::size_t MaxSignatures = MaxReadSignatures);
// The same from the certificate table alone, as the image's certificate directory entry locates it.
TAuthenticodeInfo ReadAuthenticodeTable(std::span<const std::uint8_t> Table,
                                        std::size_t MaxSignatures = MaxReadSignatures);
// The same from one PKCS#7 signature's DER, as a cabinet's signature area holds it.
TAuthenticodeInfo ReadAuthenticodeSignedData(std::span<const std::uint8_t> Der,
                                             std::size_t MaxSignatures = MaxReadSignatures);
