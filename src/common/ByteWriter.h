#pragma once
// Little-endian fields of binary formats, appended to a buffer or put over bytes it already holds.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline void AppendLe16(std::vector<std::uint8_t>& Out, std::uint16_t Value) {
  Out.push_back(static_cast<std::uint8_t>(Value));
  Out.push_back(static_cast<std::uint8_t>(Value >> 8));
}

inline void AppendLe32(std::vector<std::uint8_t>& Out, std::uint32_t Value) {
  AppendLe16(Out, static_cast<std::uint16_t>(Value));
  AppendLe16(Out, static_cast<std::uint16_t>(Value >> 16));
}

// The caller has checked that Bytes holds four bytes at Pos.
inline void PutLe32(std::span<std::uint8_t> Bytes, std::size_t Pos, std::uint32_t Value) {
  for (std::size_t Byte = 0; Byte < 4; ++Byte) Bytes[Pos + Byte] = static_cast<std::uint8_t>(Value >> (8 * Byte));
}
