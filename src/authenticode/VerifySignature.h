#pragma once
// Checking a file's Authenticode signature in-process: the file's digest, the signer's chain
// against the system's trusted certificates plus an extra PEM file, and the timestamp.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum TVerifyState : std::uint8_t {
  vsValid,             // digest matches, chain trusted, timestamp present and valid
  vsValidNoTimestamp,  // digest matches, chain trusted, no (valid) timestamp
  vsUnsigned,          // a program file without a certificate table
  vsTampered,          // the file's digest differs from the signed one
  vsUntrusted,         // digest matches, but the signer's chain does not reach a trusted root
  vsExpired,           // the signer's certificate expired and no valid timestamp vouches for the signing time
  vsUnsupported,       // neither a PE image nor a cabinet
  vsUnreadable         // missing, unreadable, or malformed signature data
};

// One signature nested in the primary one, as VerifySignature judged it on its own.
struct TNestedSignatureResult {
  TVerifyState State;
  std::string Reason;  // what decided the state
  std::string Signer;
  std::string TimeStamp;
};

// Message: the text the file list shows. Signer: the primary signer's common name.
// TimeStamp: the signing time from a valid timestamp, ISO 8601 UTC, else empty.
// Nested: the signatures nested in the primary one that were checked, in order; UncheckedNested
// counts those beyond (MaxCheckedNestedSignatures).
struct TVerifyResult {
  TVerifyState State;
  std::string Message;
  std::string Signer;
  std::string TimeStamp;
  std::vector<TNestedSignatureResult> Nested = {};
  std::size_t UncheckedNested = 0;
};

// The primary signature decides the state; the message mentions nested ones. Safe to call from
// several threads at once.
TVerifyResult VerifySignature(const std::string& Path, const std::string& ExtraTrustFile = {});

// A marked text (see DisplayedText.h) in the user's language.
using TTextTranslator = std::function<std::string(const char* Context, const char* Text)>;
// The same with the message in the user's language: each of the pieces it is made of is
// translated, as a whole message of several pieces is not in any catalogue.
TVerifyResult VerifySignature(const std::string& Path, const std::string& ExtraTrustFile,
                              const TTextTranslator& Translate);
