#pragma once
// The certificates on the PKCS#11 tokens that a module reaches, read without logging in.
#include <cstdint>
#include <string>
#include <vector>

#include "common/Pkcs11Uri.h"

enum class TKeyPresence : std::uint8_t {
  Present,
  Absent,
  Unknown  // the token shows its private keys only after the PIN has been given
};

struct TTokenCertificate {
  std::string TokenLabel, TokenSerial, TokenManufacturer, TokenModel;
  std::string Label, Id;  // of the certificate object; Id is raw bytes
  std::string Subject, Issuer, CommonName;
  std::string NotAfter;  // YYYY-MM-DD HH:MM:SS, UTC
  std::string Sha1;      // upper-case hex
  TKeyPresence PrivateKey = TKeyPresence::Unknown;
};

struct TTokenListing {
  bool ModuleLoaded = false;
  std::vector<TTokenCertificate> Certificates;
};

struct TTokenInfo {
  std::string Label, Serial, Manufacturer, Model;
};

struct PKCS11_token_st;
// What libp11 tells of a present token.
TTokenInfo TokenInfoOf(const PKCS11_token_st& Token);

// p11-kit's proxy module, through which every module registered on the system is reached.
std::string DefaultPkcs11Module();
// The module a URI names with its module-path attribute, else the default one.
std::string ModuleOf(const TPkcs11Uri& Uri);

// Every certificate on every present token, except those of tokens that hold no private key and
// need no login: certificate stores such as the system's trust list, which cannot sign.
TTokenListing ListTokenCertificates(const std::string& Module);

// A URI naming the certificate's token by label and the object by id (by label without an id).
TPkcs11Uri UriOf(const TTokenCertificate& Certificate);
// Whether the token and object attributes of Uri (those it has) all fit the certificate.
bool UriSelects(const TPkcs11Uri& Uri, const TTokenCertificate& Certificate);
// Whether the token attributes of Uri (those it has) all fit the token.
bool UriSelectsToken(const TPkcs11Uri& Uri, const TTokenInfo& Token);
// Why Uri names no one token when several present tokens fit it, with the serial numbers that would.
std::string AmbiguousTokenText(const TPkcs11Uri& Uri, const std::vector<TTokenInfo>& Fitting);
