#pragma once
// Reading the parts of an Authenticode PKCS#7 signature that more than one reader needs.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/OpenSslPtr.h"

inline constexpr const char* NestedSignatureOid = "1.3.6.1.4.1.311.2.4.1";
inline constexpr const char* Rfc3161TimestampOid = "1.3.6.1.4.1.311.3.3.1";

TPkcs7 ParsePkcs7(std::span<const std::uint8_t> Der);
// The DER bytes an attribute value of type SEQUENCE holds.
TPkcs7 ParsePkcs7(const ASN1_TYPE* Value);
// The Authenticode countersignature among the signer's unsigned attributes, if any.
TSignerInfo ParseCountersignature(PKCS7_SIGNER_INFO* Signer);

// Every value of the unsigned attributes named Oid, in order.
std::vector<ASN1_TYPE*> UnsignedAttributeValues(PKCS7_SIGNER_INFO* Signer, const char* Oid);

// Seconds since 1970-01-01 UTC.
std::optional<std::int64_t> Seconds(const ASN1_TIME* Time);
// The signing time a signer info carries among its signed attributes.
std::optional<std::int64_t> SigningTime(PKCS7_SIGNER_INFO* Signer);
// The name's common name, else the whole name on one line.
std::string NameText(const X509_NAME* Name);
