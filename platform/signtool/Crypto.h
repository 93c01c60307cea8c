#pragma once
// libcrypto, loaded when signtool.exe first needs it rather than at every start.
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

struct TCrypto {
  decltype(&BIO_new_file) BioNewFile = nullptr;
  decltype(&BIO_free) BioFree = nullptr;
  decltype(&d2i_PKCS12_bio) ReadPkcs12 = nullptr;
  decltype(&i2d_PKCS12) WritePkcs12 = nullptr;
  decltype(&PKCS12_free) Pkcs12Free = nullptr;
  decltype(&PKCS12_mac_present) MacPresent = nullptr;
  decltype(&PKCS12_verify_mac) VerifyMac = nullptr;
  decltype(&PKCS12_parse) ParsePkcs12 = nullptr;
  decltype(&PKCS12_create) CreatePkcs12 = nullptr;
  decltype(&EVP_PKEY_free) KeyFree = nullptr;
  decltype(&X509_free) CertificateFree = nullptr;
  decltype(&OPENSSL_sk_pop_free) StackPopFree = nullptr;
  decltype(&CRYPTO_free) Free = nullptr;
  decltype(&PKCS5_PBKDF2_HMAC) Pbkdf2 = nullptr;
  decltype(&EVP_sha256) Sha256 = nullptr;
};

// Null when libcrypto or one of its functions cannot be found.
const TCrypto* LoadCrypto();
