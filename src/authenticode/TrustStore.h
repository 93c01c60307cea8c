#pragma once
// The certificates a signature's chain may end in: the system's (OpenSSL's default paths) plus
// further ones the user names.
#include <memory>
#include <string>
#include <vector>

#include <openssl/x509_vfy.h>

struct TTrustStore {
  std::shared_ptr<X509_STORE> Store;
  bool ExtraTrustUnreadable = false;  // a named file or folder gave no certificate
};

// ExtraTrust names further trusted certificates: files (PEM, several to a file, or DER) and
// folders of such files, separated by ";".
std::vector<std::string> TrustSources(const std::string& ExtraTrust);

// Built once and shared while the named files stay the same (names, sizes, modification times):
// loading the system's certificates costs more than checking a signature.
TTrustStore TrustStore(const std::string& ExtraTrust);
