#pragma once
// Small but real Windows program images, written byte by byte, for tests that need PE files.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

enum class TPeKind { Exe32, Exe64, Dll32, Dll64 };

struct TPeOptions {
  TPeKind Kind = TPeKind::Exe32;
  std::size_t MinimumSize = 0;        // pad the code section so the file is at least this big
  bool WithResourceSection = false;   // adds a .rsrc section + resource directory entry
};

// A PE32 (Exe32/Dll32) or PE32+ (Exe64/Dll64) image with a .text section (and optionally .rsrc),
// file alignment 0x200, section alignment 0x1000, checksum zero, no certificate table.
std::vector<std::uint8_t> BuildPe(const TPeOptions& Options);

// Throw std::runtime_error when the file cannot be written or read.
void WriteBytes(const std::string& Path, std::span<const std::uint8_t> Bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& Path);
