#include "authenticode/PaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

TPaceFileOpening OpenPaceFile(const std::string& Path) {
  // Not blocking: a named pipe put in its place must not keep the open waiting.
  TDescriptor File(::open(Path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!File.IsOpen()) return {TDescriptor(), Path + ": " + std::strerror(errno)};
  struct stat Info {};
  if (::fstat(File.Get(), &Info) != 0) return {TDescriptor(), Path + ": " + std::strerror(errno)};
  if (!S_ISREG(Info.st_mode) || Info.st_uid != ::geteuid() || (Info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
    return {TDescriptor(), Path + " is not a file of this user that no one else may read or write."};
  return {std::move(File), {}};
}
