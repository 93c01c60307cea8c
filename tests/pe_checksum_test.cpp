// The PE checksum summed in pieces of any length at any position, against the definition: the
// file's 16-bit little-endian words added one at a time with the carry folded back in each time.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "authenticode/PeChecksum.h"

namespace {
std::uint32_t WordByWord(const std::vector<std::uint8_t>& File) {
  std::uint32_t Sum = 0;
  for (std::size_t Index = 0; Index < File.size(); Index += 2) {
    const std::uint32_t High = Index + 1 < File.size() ? File[Index + 1] : 0;
    Sum += File[Index] | High << 8;
    Sum = (Sum & 0xFFFF) + (Sum >> 16);
  }
  return Sum + static_cast<std::uint32_t>(File.size());
}

std::uint32_t InPieces(const std::vector<std::uint8_t>& File, const std::vector<std::size_t>& Cuts) {
  TPeChecksum Checksum;
  std::size_t From = 0;
  for (std::size_t Cut : Cuts) {
    Checksum.Add(std::span(File).subspan(From, Cut - From), From);
    From = Cut;
  }
  Checksum.Add(std::span(File).subspan(From), From);
  return Checksum.Value(File.size());
}
}  // namespace

TEST(PeChecksum, PiecesAtOddAndEvenPositionsGiveTheWordByWordSum) {
  std::mt19937 Random(7);
  std::vector<std::uint8_t> File(100'003);
  for (std::uint8_t& Byte : File) Byte = static_cast<std::uint8_t>(Random());
  EXPECT_EQ(InPieces(File, {}), WordByWord(File));
  EXPECT_EQ(InPieces(File, {1, 2, 9, 17, 4096, 4103, 65'537, 99'999}), WordByWord(File));
  EXPECT_EQ(InPieces(File, {7, 15, 23, 31, 100'002}), WordByWord(File));
}

TEST(PeChecksum, CarriesOfWordsThatAllSumToTheLimitAreFolded) {
  // Every word 0xFFFF: each addition carries, and the folded sum never wraps to zero.
  const std::vector<std::uint8_t> Full(1 << 21, 0xFF);
  EXPECT_EQ(InPieces(Full, {3, 1 << 20}), WordByWord(Full));
  const std::vector<std::uint8_t> Zero(4099, 0);
  EXPECT_EQ(InPieces(Zero, {5}), WordByWord(Zero));
  std::vector<std::uint8_t> OneWord{0xFF, 0xFF, 0x01};
  EXPECT_EQ(InPieces(OneWord, {1}), WordByWord(OneWord));
}
