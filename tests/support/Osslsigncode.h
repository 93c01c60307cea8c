#pragma once
// Signing and verifying with the real osslsigncode, using the test PKI.
#include <string>
#include <vector>

// Signs In into Out with the test PKI's PFX; Extra is appended to the command line (for example
// {"-t", url}). Out is replaced when it exists; In and Out may name the same file.
bool OsslSign(const std::string& In, const std::string& Out, const std::vector<std::string>& Extra = {});
// The same with another PFX.
bool OsslSignAs(const std::string& PfxPath, const std::string& Password, const std::string& In,
                const std::string& Out, const std::vector<std::string>& Extra = {});

struct TOsslVerdict {
  bool HasSignature = false;
  bool SignatureOk = false;
  bool TimestampOk = false;
  std::string Output;
};
// osslsigncode verify against the test PKI's CA and TSA CA.
TOsslVerdict OsslVerify(const std::string& Path);
// osslsigncode verify trusting the certificates in TrustFile (PEM) for signer and TSA alike.
TOsslVerdict OsslVerifyTrusting(const std::string& Path, const std::string& TrustFile);
