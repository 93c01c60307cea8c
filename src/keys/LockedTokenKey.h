#pragma once
// A key on a token that every process of the user uses by turns: the login and each signature
// happen under the token's lock (TokenLock.h), and a PIN the token refuses is noted there for the
// processes already waiting (PinRefusalNote.h). signtool.exe runs and the window's key session
// open their token keys this way, so neither disturbs the other.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "authenticode/SigningKey.h"
#include "keys/Pkcs11Key.h"

// The lock under which a process looks for its token among those present: modules such as
// SoftHSM2 may miss a token that another process is using while they enumerate the slots.
inline constexpr char TokenLookupLock[] = "opening";

// Why a token's lock could not be had in time, after "SignTool Error: ".
inline constexpr char TokenInUseUntilTheLimit[] = "The token was in use by another process until the time limit.";

// How a process takes its turns at the token.
struct TTokenTurns {
  // When a wait for the token's lock gives up: asked anew before each wait.
  std::function<std::chrono::steady_clock::time_point()> Deadline;
  int Interruption = -1;  // see TTokenLock
  // A run begun while another presented its PIN heeds that PIN's refusal rather than present it
  // again; a person who has just typed the PIN does not.
  bool HeedRefusalsNotedMeanwhile = true;
};

struct TLockedTokenOpening {
  std::unique_ptr<TSigningKey> Key;  // empty on failure
  TPkcs11Failure Failure = TPkcs11Failure::None;
  std::string Message;       // English, for "SignTool Error: "
  bool Interrupted = false;  // the wait for the lock ended by Interruption
};

// Opens the key Request names (its BeforeLogin is this function's own). A signature whose wait
// for the lock ends without it fails.
TLockedTokenOpening OpenLockedTokenKey(TPkcs11KeyRequest Request, TTokenTurns Turns);
