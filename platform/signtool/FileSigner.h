#pragma once
// Signing one file in place with the run's key, in this process, and adding a timestamp to a
// signed file that has none.
#include <cstdint>
#include <string>
#include <vector>

#include "SignOptions.h"
#include "authenticode/SigningKey.h"
#include "authenticode/TimestampClient.h"
#include "common/OpenSslPtr.h"

enum class TSignOutcome {
  Signed,
  SignedWithoutTimestamp,  // no time-stamp server granted a valid timestamp
  AlreadyTimestamped,      // adding a timestamp: the file had one and is as it was
  Failed  // the file is as it was
};

struct TSignResult {
  TSignOutcome Outcome = TSignOutcome::Failed;
  std::string Reason;  // for Failed, to follow "SignTool Error: "; may end with the file's name
  std::vector<TTimestampFailure> TimestampFailures;
  std::int64_t TimestampTime = 0;  // for a timestamped file: the stamped time and its server
  std::string TimestampServer;
};

class TFileSigner {
 public:
  // Key, ExtraCertificates and Timestamps (none: no timestamp) outlive the signer.
  TFileSigner(const TSignOptions& Options, TSigningKey& Key, const std::vector<TX509>& ExtraCertificates,
              const TTimestampClient* Timestamps);

  // The signed file replaces the original by the base's safe replacement: owner, group,
  // permissions, ACL and links stay, and a file another program locks or changes meanwhile is
  // refused. Throws TInterrupted when the run is interrupted; the file is as it was then.
  TSignResult Sign(const std::string& File) const;

 private:
  const TSignOptions& Options;
  TSigningKey& Key;
  const std::vector<TX509>& ExtraCertificates;
  const TTimestampClient* Timestamps;
};

// Adds a timestamp from Timestamps to the file's primary signature, which must have none, and
// replaces the file as Sign does. Signed when it got one; SignedWithoutTimestamp (the file as it
// was) when no server granted one. Throws TInterrupted as Sign does.
TSignResult TimestampFile(const std::string& File, const TTimestampClient& Timestamps);
