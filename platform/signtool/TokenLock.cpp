#include "TokenLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

TTokenLock::TTokenLock(const std::string& Token) {
  // Read-only is enough for flock, and works on a file that another user made in /tmp.
  File = ::open(LockPath(Token).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (File < 0) return;
  while (::flock(File, LOCK_EX) != 0 && errno == EINTR) {
  }
}

TTokenLock::~TTokenLock() {
  if (File >= 0) ::close(File);
}
