#include "keys/TokenLock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "keys/LockFolder.h"

namespace {
// The lock file's name: a hash of the token's identity.
std::string LockName(const std::string& Token) {
  std::uint64_t Hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char C : Token) Hash = (Hash ^ C) * 1099511628211ull;
  char Name[64];
  std::snprintf(Name, sizeof(Name), "quillory-token-%016llx.lock", static_cast<unsigned long long>(Hash));
  return Name;
}
}  // namespace

TTokenLock::TTokenLock(const std::string& Token, std::chrono::steady_clock::time_point Deadline, int Interruption) {
  const TLockFolder Folder = OpenLockFolder();
  if (Folder.Descriptor < 0) {
    Refuse(Folder.Problem);
    return;
  }
  const std::string Name = LockName(Token);
  FFile = ::openat(Folder.Descriptor, Name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                   S_IRUSR | S_IWUSR);
  const int OpenError = errno;
  ::close(Folder.Descriptor);
  const std::string Path = Folder.Path + "/" + Name;
  if (FFile < 0) {
    Refuse("Unable to open the token's lock file " + Path + ": " + std::strerror(OpenError));
    return;
  }
  struct stat Info {};
  if (::fstat(FFile, &Info) != 0 || !S_ISREG(Info.st_mode) || Info.st_uid != ::geteuid()) {
    Refuse("The token's lock file is not a regular file of this user: " + Path);
    return;
  }
  // Asked again and again rather than waited for in flock itself, which neither an interruption
  // nor the deadline could end: a process holding the token for ever must not hold this one.
  for (;;) {
    if (::flock(FFile, LOCK_EX | LOCK_NB) == 0) return;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      Refuse("Unable to lock the token's lock file " + Path + ": " + std::strerror(errno));
      return;
    }
    pollfd Interrupted{Interruption, POLLIN, 0};
    if (Interruption >= 0 && ::poll(&Interrupted, 1, 0) > 0) {
      FState = TState::Interrupted;
      return;
    }
    const auto Left =
        std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now()).count();
    if (Left <= 0) {
      FState = TState::Expired;
      return;
    }
    ::poll(&Interrupted, 1, static_cast<int>(std::min<long long>(Left, 10)));
  }
}

TTokenLock::~TTokenLock() {
  if (FFile >= 0) ::close(FFile);
}

void TTokenLock::Refuse(std::string Problem) {
  FState = TState::Refused;
  FProblem = std::move(Problem);
}
