#pragma once
// Signing a PE image (.exe, .dll, .sys; PE32 or PE32+) or a cabinet in place with an
// Authenticode signature. The file is read once into a copy beside it, the copy is signed and
// then replaces the file by the safe replacement of the base: a failure leaves the file as it
// was, and a file another process changes meanwhile is not replaced. Memory use does not grow
// with the file's size.
#include <cstdint>
#include <string>
#include <vector>

#include "authenticode/SigningKey.h"
#include "authenticode/TimestampClient.h"

struct TSignatureSettings {
  const EVP_MD* Md = nullptr;  // the file digest's algorithm
  std::string Description;     // empty: none
  std::string DescriptionUrl;  // empty: none
  std::int64_t SigningTime = 0;  // seconds since 1970-01-01 UTC
  std::vector<X509*> ExtraCertificates;  // put in the signature besides the key's own
  // Keep the file's signature and add the new one as a nested signature (dual signing); a file
  // without a signature gets the new one as its signature. Without it a signature the file has is
  // replaced.
  bool AppendSignature = false;
  // Asked for a timestamp over the new signature before the file is written; none: no timestamp.
  // A timestamp that cannot be had leaves the file signed without one (see TSignFileResult).
  const TTimestampClient* Timestamps = nullptr;
};

enum class TSignFailure {
  None,
  CannotOpen,        // missing, no regular file, or unreadable
  Locked,            // another process holds a lock on it
  InUse,             // another process has it open for writing
  NotWritable,       // read-only, or the user may not write it
  NotSignable,       // neither a PE image nor a cabinet that can carry a signature
  DamagedSignature,  // its signature area cannot be taken apart safely
  TooLarge,
  KeyFailed,         // the key could not sign
  Unsigned,          // adding a timestamp: the file carries no signature
  Changed,           // another process changed the file during the work
  System,            // reading or writing failed
  Interrupted        // the timestamp client's interruption descriptor became readable
};

struct TSignFileResult {
  TSignFailure Failure = TSignFailure::None;
  std::string Message;  // English, one sentence, for "SignTool Error: "
  int Error = 0;        // for System: the errno
  bool Timestamped = false;
  bool HadTimestamp = false;  // adding a timestamp: the signature had one, and the file is left as it was
  std::int64_t TimestampTime = 0;  // when Timestamped: the stamped time, seconds since 1970 UTC
  std::string TimestampServer;     // and the server that granted it
  std::vector<TTimestampFailure> TimestampFailures;  // every failed try, also when one succeeded later
};

TSignFileResult SignFile(const std::string& Path, const TSignatureSettings& Settings, TSigningKey& Key);

// The same for a file its caller has opened already.
class TFileReplacement;
TSignFileResult SignOpenedFile(TFileReplacement& File, const TSignatureSettings& Settings, TSigningKey& Key);
