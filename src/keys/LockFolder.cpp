#include "keys/LockFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
bool IsPrivate(int Folder) {
  struct stat Info {};
  return ::fstat(Folder, &Info) == 0 && S_ISDIR(Info.st_mode) && Info.st_uid == ::geteuid() &&
         (Info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// Opens Path when it is a private folder; neither a named pipe nor a device there can keep the
// open waiting.
int OpenPrivate(const std::string& Path, int Flags) {
  const int Folder = ::open(Path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC | Flags);
  if (Folder < 0 || IsPrivate(Folder)) return Folder;
  ::close(Folder);
  errno = EPERM;
  return -1;
}

std::string TemporaryFolder() {
  const char* Folder = std::getenv("TMPDIR");
  return Folder && Folder[0] == '/' ? Folder : "/tmp";
}
}  // namespace

TLockFolder OpenLockFolder() {
  TLockFolder Result;
  if (const char* Runtime = std::getenv("XDG_RUNTIME_DIR"); Runtime && Runtime[0] == '/') {
    Result.Path = Runtime;
    Result.Descriptor = OpenPrivate(Result.Path, 0);
    if (Result.Descriptor >= 0) return Result;
  }
  // In a shared folder the name may be taken by another user already: by a symbolic link, a
  // file, or a folder of theirs. Nothing but a folder of our own that others cannot enter is used.
  Result.Path = TemporaryFolder() + "/quillory-" + std::to_string(::geteuid());
  if (::mkdir(Result.Path.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
    Result.Problem = "Unable to create the folder for the token locks " + Result.Path + ": " + std::strerror(errno);
    return Result;
  }
  Result.Descriptor = OpenPrivate(Result.Path, O_NOFOLLOW);
  if (Result.Descriptor < 0)
    Result.Problem = "The folder for the token locks, " + Result.Path +
                     ", is not a folder of this user that no one else may enter; another user may have made it. "
                     "Set XDG_RUNTIME_DIR to a private folder to sign with a token.";
  return Result;
}
