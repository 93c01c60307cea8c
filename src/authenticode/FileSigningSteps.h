#pragma once
// The steps that signing a file and adding a timestamp to its signature share: the copy the
// signature is made for, asking for a timestamp, writing the signature into the copy, and the
// failures they report.
#include <openssl/pkcs7.h>

#include <optional>
#include <string>

#include "authenticode/CopyDigest.h"
#include "authenticode/FileSigning.h"
#include "authenticode/SigningCopy.h"

class TReplaceError;

TSignFileResult FailedWith(TSignFailure Failure, std::string Message);
TSignFileResult ReplaceFailure(const TReplaceError& Error);
TSignFileResult BeingWritten();

struct TPreparedCopy {
  TSigningCopy Layout;
  TCopyDigest Digest;  // over the copy's digested parts with the algorithm asked for
};

// Writes the signing copy of File into its temporary file and reads it once for its digest
// (Md) and PE checksum. Nothing, with Result's failure set, when that cannot be done. Throws
// TReplaceError.
std::optional<TPreparedCopy> PrepareSigningCopy(TFileReplacement& File, const EVP_MD* Md, TSignFileResult& Result);

// Asks for a timestamp over the first signer of Signature and puts it in; the tries, and an
// interruption or a failure to put it in, go into Result.
void StampFirstSigner(PKCS7* Signature, const TTimestampClient& Timestamps, TSignFileResult& Result);

// Puts Signature into the prepared copy and the copy in the file's place. Throws TReplaceError.
void WriteSignedCopy(TFileReplacement& File, const TPreparedCopy& Copy, PKCS7* Signature, TSignFileResult& Result);
