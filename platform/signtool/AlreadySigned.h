#pragma once
// For a run that finishes an interrupted job (/lazy): whether a file already carries a signature
// that signing it again would only repeat.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

// Whether File's primary signature is intact (its digest matches the file), was made by Signer's
// certificate with the digest Md, and, when WantsTimestamp, carries a timestamp. Neither the
// chain's trust nor the timestamp's is asked: the signer's certificate is the one at hand, and
// the timestamp was checked when it was put in.
bool AlreadySigned(const std::string& File, X509* Signer, const EVP_MD* Md, bool WantsTimestamp);
