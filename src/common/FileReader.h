#pragma once
// Reading a file by position. Whatever another process does to the file meanwhile (truncating it,
// rewriting it) can make a read come back short, never fault this process as a mapping would.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

class TFileReader {
 public:
  TFileReader() = default;
  ~TFileReader();
  TFileReader(const TFileReader&) = delete;
  TFileReader& operator=(const TFileReader&) = delete;

  // False for a missing or unreadable file and for anything but a regular file; a named pipe is
  // not waited for.
  bool Open(const std::string& Path);
  int Descriptor() const { return Fd; }
  std::uint64_t Size() const { return FileSize; }

 private:
  int Fd = -1;
  std::uint64_t FileSize = 0;
};

// The piece a file read whole is read in: small enough to come from memory the allocator keeps
// (each 4 KiB of a freshly mapped larger buffer costs a page fault, more than reading and hashing
// it) and to stay in the processor's cache between its read and its use.
inline constexpr std::size_t ReadPieceSize = 64 * 1024;

// Fills Into from Pos; false when the file ends first or a read fails.
bool ReadInto(int Fd, std::uint64_t Pos, std::span<std::uint8_t> Into);

// Length bytes from Pos, or nothing when they cannot all be read (the length is checked against
// the file's size before anything is allocated).
std::optional<std::vector<std::uint8_t>> ReadAt(int Fd, std::uint64_t Pos, std::uint64_t Length);

// The first bytes of a file of FileSize bytes, as many as its PE headers and section table take
// (all of a shorter file), or nothing when they cannot be read.
std::optional<std::vector<std::uint8_t>> ReadPeHeaderBytes(int Fd, std::uint64_t FileSize);
