#pragma once
// Building an Authenticode PKCS#7 signature around a file's digest. The encoding follows the
// one osslsigncode writes, attribute for attribute, so that the same input gives the same bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "authenticode/AuthenticodeContent.h"
#include "authenticode/SigningKey.h"
#include "common/OpenSslPtr.h"

struct TSignatureRequest {
  TSignedFileKind Kind = TSignedFileKind::Pe;
  const EVP_MD* Md = nullptr;
  std::vector<std::uint8_t> FileDigest;
  std::string Description;     // empty: none
  std::string DescriptionUrl;  // empty: none
  std::int64_t SigningTime = 0;  // seconds since 1970-01-01 UTC
  std::vector<X509*> ExtraCertificates;
  // For a signature nested in another: its number among the nested ones, from 1.
  std::optional<int> SequenceNumber;
};

struct TBuiltSignature {
  TPkcs7 Signature;   // empty when the key failed or the request could not be encoded
  std::string Error;  // why
};

TBuiltSignature BuildSignature(const TSignatureRequest& Request, TSigningKey& Key);

// How many signatures are nested in Primary already.
int NestedSignatureCount(PKCS7* Primary);

// Adds Nested to Primary's nested signatures; false when it cannot be encoded.
bool AppendNestedSignature(PKCS7* Primary, PKCS7* Nested);

// The DER of a signature; empty when it cannot be encoded.
std::vector<std::uint8_t> SignatureDer(PKCS7* Signature);
