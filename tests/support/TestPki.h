#pragma once
// A throw-away PKI for signing tests, made once per process with the openssl command line in a
// temporary folder that lives until the process ends. Keys are unencrypted PEM.
#include <cstdint>
#include <string>

struct TTestPki {
  std::string Folder;
  std::string CaCertPath;                     // root CA (PEM) that issued the signer
  std::string SignerCertPath, SignerKeyPath;  // code-signing cert (EKU codeSigning), PEM
  std::string SignerCommonName;               // e.g. "Quillory Test Signer"
  std::string EcSignerCertPath, EcSignerKeyPath;  // the same with an EC P-256 key, same CA
  std::string EcSignerCommonName;
  std::string PfxPath, PfxPassword;           // password-protected PKCS#12 with key + cert + CA
  std::string TsaCaCertPath;                  // CA that issued the TSA certificate
  std::string TsaCertPath, TsaKeyPath;        // TSA cert with critical EKU timeStamping, PEM
};

// Throws std::runtime_error when openssl fails.
const TTestPki& TestPki();

// Another PFX of the same signer under a different password (any bytes but NUL, also none at
// all). Each call writes a new file in the PKI's folder.
std::string PfxWithPassword(const std::string& Password);

// A second PKI under its own root, dated in the past: a code-signing certificate that was valid
// only during 2020, and a TSA valid from 2019 to 2045. Made once per process, in the same folder.
struct TBackdatedPki {
  std::string RootCertPath;
  std::string ExpiredPfxPath, ExpiredPfxPassword;
  std::string ExpiredSignerCommonName;
  std::int64_t WhileSignerValid = 0;  // a moment inside the expired signer's validity
  std::string TsaCertPath, TsaKeyPath;
};
const TBackdatedPki& BackdatedPki();

// A root of its own for https tests and a server certificate under it for 127.0.0.1 and
// localhost. Made once per process, in the same folder.
struct TTlsPki {
  std::string RootCertPath;
  std::string ServerCertPath, ServerKeyPath;
};
const TTlsPki& TlsPki();
