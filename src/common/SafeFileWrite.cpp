#include "common/SafeFileWrite.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
[[noreturn]] void ThrowSystemError(int Error) { throw std::runtime_error(std::strerror(Error)); }

std::string FolderOf(const std::string& Path) {
  const std::size_t Slash = Path.rfind('/');
  if (Slash == std::string::npos) return ".";
  return Slash == 0 ? "/" : Path.substr(0, Slash);
}

mode_t CurrentUmask() {
  // Reading the mask from /proc avoids changing it, which would race with other threads.
  std::ifstream Status("/proc/self/status");
  std::string Line;
  while (std::getline(Status, Line))
    if (Line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(Line.c_str() + 6, nullptr, 8));
  return 022;
}

// A link is followed, also one that leads nowhere yet, so that its target gets the new content
// and the link stays. As many links are followed as the system itself would.
std::string ResolvedTarget(const std::string& Path) {
  constexpr int MaxLinkHops = 40;
  std::filesystem::path Current(Path);
  for (int Hops = 0; Hops < MaxLinkHops; ++Hops) {
    std::error_code Error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(Current, Error))) return Current.string();
    const std::filesystem::path Target = std::filesystem::read_symlink(Current, Error);
    if (Error) ThrowSystemError(Error.value());
    Current = Target.is_absolute() ? Target : Current.parent_path() / Target;
  }
  ThrowSystemError(ELOOP);
}

// Owns the temporary file until it has been renamed into place.
class TTemporaryFile {
 public:
  explicit TTemporaryFile(const std::string& Folder) : Name(Folder + "/.quillory-XXXXXX") {
    std::vector<char> Template(Name.begin(), Name.end());
    Template.push_back('\0');
    Descriptor = ::mkstemp(Template.data());
    if (Descriptor < 0) ThrowSystemError(errno);
    Name = Template.data();
  }
  ~TTemporaryFile() {
    if (Descriptor >= 0) ::close(Descriptor);
    if (!Renamed) ::unlink(Name.c_str());
  }
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  void Write(std::span<const std::uint8_t> Bytes) {
    std::size_t Done = 0;
    while (Done < Bytes.size()) {
      const ssize_t Written = ::write(Descriptor, Bytes.data() + Done, Bytes.size() - Done);
      if (Written < 0) {
        if (errno == EINTR) continue;
        ThrowSystemError(errno);
      }
      Done += static_cast<std::size_t>(Written);
    }
  }
  // Takes over the original's permission bits and, where allowed, its owner.
  void TakeOverAttributes(const std::string& Original) {
    struct stat Info {};
    if (::stat(Original.c_str(), &Info) != 0) {
      if (::fchmod(Descriptor, 0644 & ~CurrentUmask()) != 0) ThrowSystemError(errno);
      return;
    }
    if (Info.st_uid != ::geteuid() || Info.st_gid != ::getegid())
      (void)!::fchown(Descriptor, Info.st_uid, Info.st_gid);
    if (::fchmod(Descriptor, Info.st_mode & 07777) != 0) ThrowSystemError(errno);
  }
  void Close() {
    const bool Synced = ::fsync(Descriptor) == 0;
    const int SyncError = errno;
    const bool Closed = ::close(Descriptor) == 0;
    const int CloseError = errno;
    Descriptor = -1;
    if (!Synced) ThrowSystemError(SyncError);
    if (!Closed) ThrowSystemError(CloseError);
  }
  void RenameTo(const std::string& Path) {
    if (::rename(Name.c_str(), Path.c_str()) != 0) ThrowSystemError(errno);
    Renamed = true;
  }

 private:
  std::string Name;
  int Descriptor = -1;
  bool Renamed = false;
};
}  // namespace

bool IsReadOnlyFile(const std::string& Path) {
  struct stat Info {};
  return ::stat(Path.c_str(), &Info) == 0 && (Info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

void WriteFileAtomically(const std::string& Path, std::span<const std::uint8_t> Bytes) {
  WritePiecesAtomically(Path, {Bytes});
}

void WritePiecesAtomically(const std::string& Path,
                           std::initializer_list<std::span<const std::uint8_t>> Pieces) {
  const std::string Target = ResolvedTarget(Path);
  TTemporaryFile Temporary(FolderOf(Target));
  for (const std::span<const std::uint8_t> Piece : Pieces) Temporary.Write(Piece);
  Temporary.TakeOverAttributes(Target);
  Temporary.Close();
  Temporary.RenameTo(Target);
}
