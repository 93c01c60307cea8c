#pragma once
// Putting a granted timestamp into a signature, as osslsigncode does: the token or the
// countersignature becomes an unsigned attribute of the signer, and an Authenticode server's
// certificates join the signature's certificate set.
#include <openssl/pkcs7.h>

#include <cstdint>
#include <span>

#include "authenticode/TimestampProtocol.h"

// What a timestamp covers: the signer's signature value (its encrypted digest).
std::span<const std::uint8_t> SignatureValueOf(const PKCS7_SIGNER_INFO* Signer);

// Replaces any timestamp Signer had with Token (an RFC 3161 token under 1.3.6.1.4.1.311.3.3.1,
// a countersignature under PKCS#9's countersignature), and for Authenticode appends Token's
// certificates to SignedData's, the last one first. False when OpenSSL fails; the signature may
// then be half changed and is not to be used.
bool AddTimestamp(PKCS7* SignedData, PKCS7_SIGNER_INFO* Signer, const TTimestampToken& Token);
