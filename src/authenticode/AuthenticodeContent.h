#pragma once
// The DER pieces of an Authenticode signature that OpenSSL has no types for: the signed content
// (SpcIndirectDataContent) and the signed attributes' values.
#include <openssl/evp.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

inline constexpr const char* IndirectDataOid = "1.3.6.1.4.1.311.2.1.4";
inline constexpr const char* StatementTypeOid = "1.3.6.1.4.1.311.2.1.11";
inline constexpr const char* OpusInfoOid = "1.3.6.1.4.1.311.2.1.12";
inline constexpr const char* SequenceNumberOid = "1.2.840.113549.1.9.25.4";

enum class TSignedFileKind { Pe, Cab };

// SpcIndirectDataContent naming the file's kind and holding its Authenticode digest.
std::vector<std::uint8_t> IndirectDataContent(TSignedFileKind Kind, const EVP_MD* Md,
                                              std::span<const std::uint8_t> FileDigest);

// SpcStatementType: individual code signing.
std::vector<std::uint8_t> IndividualStatementType();

// SpcSpOpusInfo with the description and the address for more information; either may be empty,
// and then is left out.
std::vector<std::uint8_t> OpusInfo(const std::string& Description, const std::string& Url);
