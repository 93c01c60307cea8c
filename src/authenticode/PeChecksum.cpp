#include "authenticode/PeChecksum.h"

#include <endian.h>

#include <algorithm>
#include <cstring>

namespace {
std::uint64_t Folded(std::uint64_t Sum) {
  while (Sum > 0xFFFF) Sum = (Sum & 0xFFFF) + (Sum >> 16);
  return Sum;
}

// Eight-byte reads between two folds: each adds less than 2^33, so the part stays far from
// overflowing.
constexpr std::size_t ReadsPerFold = std::size_t{1} << 20;
}  // namespace

void TPeChecksum::Add(std::span<const std::uint8_t> Bytes, std::uint64_t Pos) {
  // A sum with end-around carry is the plain sum modulo 0xFFFF (zero only when every word is), and
  // 2^16 is 1 modulo 0xFFFF: eight bytes read as one little-endian number, its two 32-bit halves
  // added, count as its four words.
  std::uint64_t Total = 0;
  std::size_t Index = 0;
  if (Pos % 2 == 1 && !Bytes.empty()) {
    Total = std::uint64_t{Bytes[0]} << 8;  // the high byte of a word begun before Bytes
    Index = 1;
  }
  while (Bytes.size() - Index >= 8) {
    const std::size_t Reads = std::min((Bytes.size() - Index) / 8, ReadsPerFold);
    std::uint64_t Part = 0;
    for (std::size_t Read = 0; Read < Reads; ++Read, Index += 8) {
      std::uint64_t Eight = 0;
      std::memcpy(&Eight, Bytes.data() + Index, sizeof Eight);
      Eight = le64toh(Eight);
      Part += (Eight & 0xFFFFFFFF) + (Eight >> 32);
    }
    Total = Folded(Total + Folded(Part));
  }
  for (std::size_t Rest = Index; Rest < Bytes.size(); ++Rest)
    Total += std::uint64_t{Bytes[Rest]} << ((Rest - Index) % 2 * 8);
  Sum = Folded(Sum + Folded(Total));
}

std::uint32_t TPeChecksum::Value(std::uint64_t FileSize) const {
  return static_cast<std::uint32_t>(Folded(Sum) + FileSize);
}
