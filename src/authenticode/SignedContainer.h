#pragma once
// Where a signable file (a PE image or a cabinet) keeps its Authenticode signature, and which of
// its bytes the signature's digest covers. Read by position from an open file.
//
// A signature is accepted only where it cannot hide bytes from the digest or from the loader:
// a PE certificate table after the headers and every section's data, 8-byte aligned, ending the
// file, holding one entry with at most its zero padding; a cabinet's signature ending the file,
// with at most its zero padding. The verifier, the properties window and the stripper all go by
// this one reading.
#include <cstdint>
#include <optional>
#include <vector>

enum class TContainerKind {
  Other,        // neither a PE image nor a cabinet
  BrokenPe,     // begins with "MZ" but its NT headers cannot be read
  Pe,
  Cab
};

enum class TSignatureSlot {
  Absent,     // no certificate table, or a cabinet without a signature area
  Malformed,  // there, but unreadable: outside the file, too large, not an Authenticode entry
  Misplaced,  // there, but placed or padded so that bytes outside the digest could change the file
  Present
};

struct TByteRange {
  std::uint64_t Pos = 0;
  std::uint64_t Length = 0;
};

// Larger certificate tables are refused unread: real ones hold a few certificates.
inline constexpr std::uint64_t MaxSignatureSize = std::uint64_t{64} << 20;

struct TSignedContainer {
  TContainerKind Kind = TContainerKind::Other;
  TSignatureSlot Slot = TSignatureSlot::Absent;
  // For Malformed and Misplaced: what is wrong, a marked text (DisplayedText.h, context
  // "VerifySignature").
  const char* Fault = nullptr;
  std::vector<std::uint8_t> SignedData;  // DER of the primary signature's PKCS#7
  // The pieces of the file the Authenticode digest is taken over, in file order; for an unsigned
  // PE image or a cabinet with an empty signature reserve, those a signature made now would cover.
  std::vector<TByteRange> DigestedParts;
  // Where the signature lies: the PE certificate table, or the cabinet's signature area.
  TByteRange Signature;
  // PE only: the positions of the optional header's CheckSum and of the certificate table's
  // directory entry.
  std::uint64_t CheckSumPos = 0;
  std::uint64_t CertEntryPos = 0;
};

// Fd is open on a file of FileSize bytes. Nothing when the bytes it needs cannot be read (the
// file shrank meanwhile, an I/O error).
std::optional<TSignedContainer> LocateSignature(int Fd, std::uint64_t FileSize);
