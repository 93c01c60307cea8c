#pragma once
// The key and certificate on a PKCS#11 token that the options name, as osslsigncode is told them.
#include <optional>
#include <string>

#include "SignOptions.h"
#include "common/PinRefusal.h"

struct TTokenKey {
  std::string Module;    // the PKCS#11 module's path
  std::string KeyUri;    // the private key, on the one present token the options name
  std::string CertUri;   // the certificate, when it is on the token
  std::string CertFile;  // the certificate, when /f gives it
  std::string Token;     // the physical token, for the lock that keeps signings apart
};

struct TTokenKeyChoice {
  std::optional<TTokenKey> Key;
  std::string Error;  // the text after "SignTool Error: " when the options name no usable key
};

// For /kc, /sha1 and /n; without them, neither a key nor an error (the key is in a PFX). The
// token is looked up among the present ones: exactly one must fit.
// /sha1 and /n look at every present token's certificates; the key is the one with the same id.
TTokenKeyChoice ChooseTokenKey(const TSignOptions& Options);

// The token's refusal of the PIN that osslsigncode's output tells of.
TPinRefusal PinRefusalOf(const std::string& Output);
// Why signing with a key on a token failed, from osslsigncode's output; empty when the output
// names no problem with the module, the token, the PIN or the key.
std::optional<std::string> TokenProblem(const TTokenKey& Key, const std::string& Output);
