#pragma once
// The copy of a file that a new signature is made for: the original without its signature, the
// fields the signature fills in cleared (a PE image padded to 8 bytes; a cabinet given the
// header reserve a signature needs). The signature then goes after ContentEnd.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "authenticode/AuthenticodeContent.h"

enum class TCopyFault {
  None,
  Unreadable,        // the bytes cannot be read (the file shrank meanwhile, an I/O error)
  NotSignable,       // neither a PE image with a certificate directory nor a plain cabinet
  DamagedSignature,  // its signature area is there but cannot be taken apart safely
  TooLarge           // a signed file must stay below 4 GiB
};

struct TSigningCopy {
  TCopyFault Fault = TCopyFault::None;
  TSignedFileKind Kind = TSignedFileKind::Pe;
  std::uint64_t ContentEnd = 0;
  std::vector<std::uint8_t> ExistingSignature;  // DER of the original's primary signature, if any
  // PE only.
  std::uint64_t CheckSumPos = 0;
  std::uint64_t CertEntryPos = 0;
};

// Writes the copy of the file open on Original (Size bytes) to the empty file open on Copy.
// Throws TReplaceError (System) when writing fails.
TSigningCopy WriteSigningCopy(int Original, std::uint64_t Size, int Copy);

// Puts Signature (DER) after the copy's content with its zero padding, and fills in the fields
// that say where it is (and a PE image's checksum, from ContentSum: the checksum of the copy's
// content so far). Returns the file's final size. Throws TReplaceError (System).
class TPeChecksum;
std::uint64_t AppendSignature(int Copy, const TSigningCopy& Layout, std::span<const std::uint8_t> Signature,
                              TPeChecksum ContentSum);
