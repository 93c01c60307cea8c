#include "common/FileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/PeHeaders.h"

namespace {
// The first read takes what most programs' headers fit in; more is read only when they say so.
constexpr std::uint64_t FirstHeaderRead = 4096;
}  // namespace

TFileReader::~TFileReader() {
  if (Fd >= 0) ::close(Fd);
}

bool TFileReader::Open(const std::string& Path) {
  Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (Fd < 0) return false;
  struct stat Info {};
  if (::fstat(Fd, &Info) != 0 || !S_ISREG(Info.st_mode)) {
    ::close(Fd);
    Fd = -1;
    return false;
  }
  FileSize = static_cast<std::uint64_t>(Info.st_size);
  return true;
}

bool ReadInto(int Fd, std::uint64_t Pos, std::span<std::uint8_t> Into) {
  std::size_t Done = 0;
  while (Done < Into.size()) {
    const ssize_t Read = ::pread(Fd, Into.data() + Done, Into.size() - Done, static_cast<off_t>(Pos + Done));
    if (Read < 0 && errno == EINTR) continue;
    if (Read <= 0) return false;
    Done += static_cast<std::size_t>(Read);
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> ReadAt(int Fd, std::uint64_t Pos, std::uint64_t Length) {
  struct stat Info {};
  if (::fstat(Fd, &Info) != 0 || Pos > static_cast<std::uint64_t>(Info.st_size) ||
      Length > static_cast<std::uint64_t>(Info.st_size) - Pos)
    return std::nullopt;
  std::vector<std::uint8_t> Bytes(static_cast<std::size_t>(Length));
  if (!ReadInto(Fd, Pos, Bytes)) return std::nullopt;
  return Bytes;
}

std::optional<std::vector<std::uint8_t>> ReadPeHeaderBytes(int Fd, std::uint64_t FileSize) {
  std::uint64_t Want = std::min(FileSize, FirstHeaderRead);
  for (;;) {
    std::optional<std::vector<std::uint8_t>> Bytes = ReadAt(Fd, 0, Want);
    if (!Bytes) return std::nullopt;
    const std::uint64_t Needed = std::min(FileSize, PeHeadersLength(*Bytes));
    if (Needed <= Want) return Bytes;
    Want = Needed;
  }
}
