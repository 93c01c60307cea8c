#pragma once
// Reading the headers of a PE (Windows program) image held in memory. Every field is checked
// against the image's size before it is read.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

enum class TPeFormatError {
  NotMz,       // does not begin with "MZ"
  BadNtHeaders // NT headers outside the file, or no "PE\0\0" signature
};

struct TPeSection {
  std::uint32_t RawPos = 0;   // PointerToRawData
  std::uint32_t RawSize = 0;  // SizeOfRawData
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
  std::uint32_t SizeOfHeaders = 0;       // as the optional header states it
  std::uint64_t SectionTableEnd = 0;     // first byte after the section table
  // Absent when the section table does not lie wholly within the image.
  std::optional<std::vector<TPeSection>> Sections;
};

std::variant<TPeHeaders, TPeFormatError> ReadPeHeaders(std::span<const std::uint8_t> Image);

// How many bytes from the start of a file ReadPeHeaders needs, as far as the first bytes of it,
// Start, tell: read that many (or the whole file, when shorter) and ask again until the answer
// no longer grows.
std::uint64_t PeHeadersLength(std::span<const std::uint8_t> Start);
