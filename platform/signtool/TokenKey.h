#pragma once
// The key on a PKCS#11 token that the options name (/kc, or /sha1 and /n among the certificates
// of every present token), opened with one login for the whole run.
#include <chrono>
#include <memory>
#include <string>

#include "SignOptions.h"
#include "authenticode/SigningKey.h"

struct TTokenKeyOpening {
  std::unique_ptr<TSigningKey> Key;  // empty when the options name no usable key
  std::string Error;                 // then the text after "SignTool Error: "
};

// The login, and every signature after it, take their turns at the token (keys/LockedTokenKey.h).
// Throws TInterrupted when the run is interrupted while waiting.
TTokenKeyOpening OpenTokenKey(const TSignOptions& Options, const std::string& Pin,
                              std::chrono::steady_clock::time_point Deadline);
