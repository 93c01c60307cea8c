#pragma once
// Owning pointers for OpenSSL objects, each freed with its own function.
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

template <auto Free>
struct TOpenSslFree {
  template <typename T>
  void operator()(T* Object) const { Free(Object); }
};

using TX509 = std::unique_ptr<X509, TOpenSslFree<X509_free>>;
using TPkcs7 = std::unique_ptr<PKCS7, TOpenSslFree<PKCS7_free>>;
using TSignerInfo = std::unique_ptr<PKCS7_SIGNER_INFO, TOpenSslFree<PKCS7_SIGNER_INFO_free>>;
using TTstInfo = std::unique_ptr<TS_TST_INFO, TOpenSslFree<TS_TST_INFO_free>>;
using TObject = std::unique_ptr<ASN1_OBJECT, TOpenSslFree<ASN1_OBJECT_free>>;
using TBio = std::unique_ptr<BIO, TOpenSslFree<BIO_free_all>>;
using TX509Store = std::unique_ptr<X509_STORE, TOpenSslFree<X509_STORE_free>>;
using TX509StoreCtx = std::unique_ptr<X509_STORE_CTX, TOpenSslFree<X509_STORE_CTX_free>>;
using TX509Sig = std::unique_ptr<X509_SIG, TOpenSslFree<X509_SIG_free>>;
using TMdCtx = std::unique_ptr<EVP_MD_CTX, TOpenSslFree<EVP_MD_CTX_free>>;

// A list that does not own its certificates (as PKCS7_get0_signers returns).
inline void FreeListOnly(STACK_OF(X509)* List) { sk_X509_free(List); }
using TCertificateList = std::unique_ptr<STACK_OF(X509), TOpenSslFree<FreeListOnly>>;
