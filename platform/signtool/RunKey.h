#pragma once
// The key one run signs every file with, opened once: the window's key session when the
// environment names one (KeyAgentVariable), else a key in a key service (/kc with its address, or
// /csp naming the service), else a key on a token (/kc, /sha1, /n), else the PFX (/f).
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "SignOptions.h"
#include "authenticode/HttpCall.h"
#include "authenticode/SigningKey.h"
#include "common/OpenSslPtr.h"

struct TRunKey {
  std::unique_ptr<TSigningKey> Key;      // empty when it cannot be used
  std::vector<TX509> ExtraCertificates;  // /ac
  std::string Error;                     // then the text after "SignTool Error: "
  THttpCaller Http;                      // the session's, which makes the run's requests; else empty
};

// Whether the environment names the window's key session, which then lends the run its key.
bool InKeySession();

// Password is the PFX's password, the token's PIN or the key service's access token, from wherever
// the options took it.
TRunKey OpenRunKey(const TSignOptions& Options, const std::optional<std::string>& Password,
                   std::chrono::steady_clock::time_point Deadline);

// Whether the options name a key in a service whose certificates live only days, so that its
// signatures outlive them only with a timestamp.
bool KeyNeedsTimestamp(const TSignOptions& Options);
