#pragma once
// Signing and verifying with the real osslsigncode, using the test PKI.
#include <string>
#include <vector>

// Signs In into Out with the test PKI's PFX; Extra is appended to the command line (for example
// {"-t", url}). Out is replaced when it exists; In and Out may name the same file.
bool OsslSign(const std::string& In, const std::string& Out, const std::vector<std::string>& Extra = {});

struct TVerifyResult {
  bool HasSignature = false;
  bool SignatureOk = false;
  bool TimestampOk = false;
  std::string Output;
};
// osslsigncode verify against the test PKI's CA and TSA CA.
TVerifyResult OsslVerify(const std::string& Path);
