#include "common/SmallFileRead.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool IsSmallRegularFile(const struct stat& Info, std::size_t MaxBytes) {
  return S_ISREG(Info.st_mode) && Info.st_size >= 0 && static_cast<std::uintmax_t>(Info.st_size) <= MaxBytes;
}
}  // namespace

TSmallFileRead ReadSmallFile(const std::string& Path, std::size_t MaxBytes, std::string& Content) {
  Content.clear();
  struct stat Info {};
  if (::stat(Path.c_str(), &Info) != 0)
    return errno == ENOENT || errno == ENOTDIR ? TSmallFileRead::Missing : TSmallFileRead::Unreadable;
  if (!IsSmallRegularFile(Info, MaxBytes)) return TSmallFileRead::Unreadable;

  // The name may have been replaced since: non-blocking, so that a pipe put there cannot hang
  // the open, and checked again on what was actually opened.
  const int Descriptor = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (Descriptor < 0) return errno == ENOENT ? TSmallFileRead::Missing : TSmallFileRead::Unreadable;
  TSmallFileRead Result = TSmallFileRead::Unreadable;
  if (::fstat(Descriptor, &Info) == 0 && IsSmallRegularFile(Info, MaxBytes)) {
    // One byte more than the size is asked for, so that a file grown meanwhile is read whole,
    // up to one byte past MaxBytes, which marks it as too big.
    Content.resize(static_cast<std::size_t>(Info.st_size) + 1);
    std::size_t Done = 0;
    while (Done <= MaxBytes) {
      if (Done == Content.size()) Content.resize(std::min(2 * Content.size(), MaxBytes + 1));
      const ssize_t Count = ::read(Descriptor, Content.data() + Done, Content.size() - Done);
      if (Count < 0 && errno == EINTR) continue;
      if (Count < 0) break;
      if (Count == 0) {
        Result = TSmallFileRead::Read;
        break;
      }
      Done += static_cast<std::size_t>(Count);
    }
    Content.resize(Result == TSmallFileRead::Read ? Done : 0);
  }
  ::close(Descriptor);
  return Result;
}
