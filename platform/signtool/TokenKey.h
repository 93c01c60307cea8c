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

// The login, and every signature after it, waits for the token's lock (TokenLock.h), so that the
// user's other runs never use the token at the same moment. A PIN the token refuses is noted for
// the runs already waiting for it. Throws TInterrupted when the run is interrupted while waiting.
TTokenKeyOpening OpenTokenKey(const TSignOptions& Options, const std::string& Pin,
                              std::chrono::steady_clock::time_point Deadline);
