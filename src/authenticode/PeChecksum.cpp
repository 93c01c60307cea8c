#include "authenticode/PeChecksum.h"

namespace {
std::uint64_t Folded(std::uint64_t Sum) {
  while (Sum > 0xFFFF) Sum = (Sum & 0xFFFF) + (Sum >> 16);
  return Sum;
}
}  // namespace

void TPeChecksum::Add(std::span<const std::uint8_t> Bytes, std::uint64_t Pos) {
  // A sum with end-around carry is the sum of the low bytes plus 256 times that of the high
  // ones, folded: the words need not be put together.
  std::uint64_t Low = 0, High = 0;
  const std::size_t FirstLow = Pos % 2;
  for (std::size_t Index = FirstLow; Index < Bytes.size(); Index += 2) Low += Bytes[Index];
  for (std::size_t Index = 1 - FirstLow; Index < Bytes.size(); Index += 2) High += Bytes[Index];
  Sum = Folded(Sum + Folded(Low + (High << 8)));
}

std::uint32_t TPeChecksum::Value(std::uint64_t FileSize) const {
  return static_cast<std::uint32_t>(Folded(Sum) + FileSize);
}
