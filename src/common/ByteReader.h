#pragma once
// Little-endian fields of binary formats. Callers check every position with Fits before reading.
#include <cstddef>
#include <cstdint>
#include <span>

inline bool Fits(std::span<const std::uint8_t> Bytes, std::uint64_t Pos, std::uint64_t Length) {
  return Pos <= Bytes.size() && Length <= Bytes.size() - Pos;
}

inline std::uint16_t ReadLe16(std::span<const std::uint8_t> Bytes, std::size_t Pos) {
  return static_cast<std::uint16_t>(Bytes[Pos] | (Bytes[Pos + 1] << 8));
}

inline std::uint32_t ReadLe32(std::span<const std::uint8_t> Bytes, std::size_t Pos) {
  return static_cast<std::uint32_t>(ReadLe16(Bytes, Pos)) |
         (static_cast<std::uint32_t>(ReadLe16(Bytes, Pos + 2)) << 16);
}
