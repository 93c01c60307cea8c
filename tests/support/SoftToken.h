#pragma once
// A SoftHSM2 token in a temporary folder, made once per process with the test PKI's signers: the
// RSA key and certificate under one id and labelled differently (as many tokens do), the EC P-256
// ones under another id and one label. SOFTHSM2_CONF is set for the process and its
// children, so p11-kit's proxy module reaches the token too.
#include <string>

struct TSoftToken {
  std::string Module;  // SoftHSM2's PKCS#11 module
  std::string Label, Serial, Pin;
  std::string RsaKeyUri, EcKeyUri;  // token label and id
  std::string RsaKeyLabel, EcLabel;
  std::string RsaSha1, EcSha1;  // thumbprints of the certificates, upper-case hex
};

// Throws std::runtime_error when the token cannot be made. From then on SoftHSM2's module, the
// spy below and p11-kit's proxy stay mapped until the process ends, so that what they keep to the
// end is named as theirs by the leak checker, not as an unknown module's.
const TSoftToken& SoftToken();

// OpenSC's pkcs11-spy module: put in front of the module named by $PKCS11SPY, it logs every call
// into the file $PKCS11SPY_OUTPUT names. Throws std::runtime_error when it is not installed.
std::string Pkcs11SpyModule();
