#pragma once
// Signing one file in place through osslsigncode.
#include <string>

#include "SignOptions.h"

enum class TSignOutcome {
  Signed,
  SignedWithoutTimestamp,  // the time-stamp server could not be reached or answered wrongly
  Failed,                  // the file is as it was
  CertificateUnusable      // the PFX cannot be used: no other file will sign either
};

struct TSignResult {
  TSignOutcome Outcome = TSignOutcome::Failed;
  std::string Reason;  // for Failed and CertificateUnusable, to follow "SignTool Error: "
};

class TFileSigner {
 public:
  explicit TFileSigner(const TSignOptions& Options) : Options(Options) {}

  // The new file is written beside the original, in a fresh folder of its own, and renamed over
  // it with the original's permissions only when signing succeeded.
  TSignResult Sign(const std::string& File) const;

 private:
  std::vector<std::string> Arguments(const std::string& In, const std::string& Out, bool WithTimestamp) const;
  TSignResult Diagnose(const std::string& File, const std::string& Output) const;

  const TSignOptions& Options;
};
