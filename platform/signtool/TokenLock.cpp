#include "TokenLock.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Interruption.h"

namespace {
// The lock file: in the user's runtime folder, named by a hash of the token's identity.
std::string LockPath(const std::string& Token) {
  std::uint64_t Hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char C : Token) Hash = (Hash ^ C) * 1099511628211ull;
  char Name[64];
  std::snprintf(Name, sizeof(Name), "/quillory-token-%016llx.lock", static_cast<unsigned long long>(Hash));
  const char* Folder = std::getenv("XDG_RUNTIME_DIR");
  return std::string(Folder && *Folder ? Folder : "/tmp") + Name;
}
}  // namespace

TTokenLock::TTokenLock(const std::string& Token, std::chrono::steady_clock::time_point Deadline) {
  // Read-only is enough for flock, and works on a file that another user made in /tmp.
  File = ::open(LockPath(Token).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (File < 0) return;
  // Asked again and again rather than waited for in flock itself, which neither an interruption
  // nor the deadline could end: a process holding the token for ever must not hold this one.
  for (;;) {
    if (::flock(File, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR)) return;
    ThrowIfInterrupted();
    const auto Left =
        std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now()).count();
    if (Left <= 0) {
      TimedOut = true;
      return;
    }
    pollfd Interruption{InterruptionDescriptor(), POLLIN, 0};
    ::poll(&Interruption, 1, static_cast<int>(std::min<long long>(Left, 10)));
  }
}

TTokenLock::~TTokenLock() {
  if (File >= 0) ::close(File);
}
