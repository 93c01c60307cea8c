#pragma once
// The certificates a signature's chain may end in: the system's (OpenSSL's default paths) plus a
// PEM file of further ones.
#include <memory>
#include <string>

#include <openssl/x509_vfy.h>

struct TTrustStore {
  std::shared_ptr<X509_STORE> Store;
  bool ExtraTrustUnreadable = false;  // the extra file was named but could not be loaded
};

// Built once and shared while the extra file stays the same (name, size, modification time):
// loading the system's certificates costs more than checking a signature.
TTrustStore TrustStore(const std::string& ExtraTrustFile);
