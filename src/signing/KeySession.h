#pragma once
// The key a signing batch lends its signtool.exe runs. It is opened once, before the first file:
// the PFX decoded with its password, or the token logged in to with its PIN. An agent of this
// process then holds it until the batch ends, and each run reaches it through the socket named in
// its environment, so the secret never leaves this process.
#include <QString>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "keys/KeyAgent.h"

struct TKeySession {
  std::string Certificate;           // as opened: a PFX path, a pkcs11: URI or a key's address, trimmed
  std::unique_ptr<TKeyAgent> Agent;  // destroying it ends the session and wipes the secret

  // What a run's environment gets to reach the session.
  std::vector<std::pair<std::string, std::string>> RunEnvironment() const;
};

// Which input the failure concerns, so that the window can lead the user to its box.
enum class TKeySessionFailure { None, Secret, Certificate, Session };

struct TKeySessionOpening {
  std::unique_ptr<TKeySession> Session;  // empty on failure
  TKeySessionFailure Failure = TKeySessionFailure::None;
  QString Message;  // translated, for the user
};

// Certificate: a PFX path, a pkcs11: URI (its module-path, else the system's modules), or a key
// service's address (CloudKeyAddress.h). Secret: the PFX's password, the token's PIN or the
// service's access token (may be empty: then the service's usual places); read, not kept. May
// take a while (a token's login, a service's answer): not for the window's thread.
TKeySessionOpening OpenKeySession(const std::string& Certificate, std::string_view Secret);
