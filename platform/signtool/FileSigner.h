#pragma once
// Signing one file in place: with a PFX and no time-stamp server in this process, otherwise
// through osslsigncode.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "SignOptions.h"
#include "TokenKey.h"
#include "common/OpenSslPtr.h"
#include "common/ProcessRunner.h"
#include "keys/PfxKey.h"

class TFileReplacement;
class TScratchOutput;
class TTimestampRetry;

enum class TSignOutcome {
  Signed,
  SignedWithoutTimestamp,  // the time-stamp server could not be reached or answered wrongly
  Failed,                  // the file is as it was
  CertificateUnusable      // the key cannot be used: no other file will sign either
};

struct TSignResult {
  TSignOutcome Outcome = TSignOutcome::Failed;
  std::string Reason;  // for Failed and CertificateUnusable, to follow "SignTool Error: "
};

class TFileSigner {
 public:
  // TokenKey, when given, is the key to sign with; otherwise the PFX of the options. Nothing is
  // worked on past Deadline, the limit of the whole run.
  TFileSigner(const TSignOptions& Options, std::optional<TTokenKey> TokenKey,
              std::chrono::steady_clock::time_point Deadline);

  // osslsigncode writes the signed file beside the original, and it becomes the original's
  // content by a safe replacement: owner, group, permissions and links stay, and a file another
  // program locks or changes meanwhile is refused. Throws TInterrupted when the run is
  // interrupted; whatever was made for the file is gone by then.
  TSignResult Sign(const std::string& File) const;

 private:
  // Timestamp: how osslsigncode reaches the time-stamp servers, or none to sign without them.
  std::vector<std::string> Arguments(const std::string& In, const std::string& Out,
                                     const std::optional<std::vector<std::string>>& Timestamp) const;
  // Signs In into Output; with Stamping, time-stamped in the same run.
  TRunResult RunOnce(const std::string& In, TScratchOutput& Output, const TTimestampRetry* Stamping) const;
  // Time-stamps the signed file in Signed into a new Stamped, trying again as Stamping allows
  // when FirstTryMade; whether it got a time-stamp.
  bool AddTimestamp(const std::string& Folder, TScratchOutput& Signed, std::optional<TScratchOutput>& Stamped,
                    TTimestampRetry& Stamping, bool FirstTryMade) const;
  // osslsigncode's options naming the time-stamp servers.
  std::vector<std::string> TimestampServers() const;
  TSignResult Finish(const std::string& File, TFileReplacement& Replacement, TScratchOutput& Output) const;
  TSignResult Diagnose(const std::string& File, TFileReplacement& Replacement, const std::string& Output) const;
  // Opens the PFX and the further certificates once for every file signed in this process.
  void PrepareInProcess();
  TSignResult SignInProcess(const std::string& File, TFileReplacement& Replacement) const;

  const TSignOptions& Options;
  const std::optional<TTokenKey> TokenKey;
  std::chrono::steady_clock::time_point Deadline;
  std::vector<std::string> KeyArguments;  // where osslsigncode finds the key and certificates
  std::optional<std::string> Input;       // what it reads on standard input: password, PIN or PFX
  bool InProcess = false;
  TPfxOpenResult Pfx;
  std::vector<TX509> ExtraCertificates;
  bool ExtraCertificatesUnreadable = false;
};
