#pragma once
// Where a signable file (a PE image or a cabinet) keeps its Authenticode signature, and which of
// its bytes the signature's digest covers. Read by position from an open file.
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
  Malformed,  // the table or area is there but lies outside the file or is not PKCS#7 signed data
  Present
};

struct TByteRange {
  std::uint64_t Pos = 0;
  std::uint64_t Length = 0;
};

struct TSignedContainer {
  TContainerKind Kind = TContainerKind::Other;
  TSignatureSlot Slot = TSignatureSlot::Absent;
  std::vector<std::uint8_t> SignedData;  // DER of the primary signature's PKCS#7
  // The pieces of the file the Authenticode digest is taken over, in file order.
  std::vector<TByteRange> DigestedParts;
};

// Fd is open on a file of FileSize bytes. Nothing when the bytes it needs cannot be read (the
// file shrank meanwhile, an I/O error).
std::optional<TSignedContainer> LocateSignature(int Fd, std::uint64_t FileSize);
