#pragma once
// Reading the headers of a PE (Windows program) image held in memory. Every field is checked
// against the image's size before it is read.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

enum class TPeFormatError {
  NotMz,       // does not begin with "MZ"
  BadNtHeaders // NT headers outside the file, or no "PE\0\0" signature
};

struct TPeHeaders {
  std::uint32_t NtOffset = 0;  // e_lfanew
  bool Is64 = false;           // PE32+ optional header (magic 0x20B)
  bool IsDll = false;
  std::uint16_t Machine = 0;
  std::uint32_t CheckSumPos = 0;  // file position of the optional header's CheckSum
  // File position of the certificate table's directory entry (offset, then size); absent when
  // the image has fewer than five data-directory entries.
  std::optional<std::uint32_t> CertEntryPos;
  std::uint32_t CertOffset = 0;   // a file offset, unlike the other directory entries
  std::uint32_t CertSize = 0;
  std::uint32_t HeadersEnd = 0;   // first byte after the fixed-size NT headers
};

std::variant<TPeHeaders, TPeFormatError> ReadPeHeaders(std::span<const std::uint8_t> Image);

std::uint16_t ReadLe16(std::span<const std::uint8_t> Bytes, std::size_t Pos);
std::uint32_t ReadLe32(std::span<const std::uint8_t> Bytes, std::size_t Pos);
