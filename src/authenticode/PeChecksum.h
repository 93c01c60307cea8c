#pragma once
// The PE image checksum: the 16-bit little-endian words of the whole file summed with the
// carries folded back in, plus the file's length. The checksum field itself counts as zero.
#include <cstdint>
#include <span>

class TPeChecksum {
 public:
  // Counts Bytes, found at Pos in the file; each byte of the file must be counted once, those
  // of the checksum field as zero. The order does not matter.
  void Add(std::span<const std::uint8_t> Bytes, std::uint64_t Pos);
  std::uint32_t Value(std::uint64_t FileSize) const;

 private:
  std::uint64_t Sum = 0;
};
