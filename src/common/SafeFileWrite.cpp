#include "common/SafeFileWrite.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "common/AccessAttributes.h"
#include "common/FileReader.h"
#include "common/ReadLease.h"
#include "common/TextUtil.h"

namespace {
std::string ErrorText(TReplaceError::TKind Kind, int Error) {
  switch (Kind) {
    case TReplaceError::TKind::Locked: return "The file is locked by another process";
    case TReplaceError::TKind::Changed: return "The file was changed by another process meanwhile";
    case TReplaceError::TKind::InUse: return "The file is being written by another process";
    case TReplaceError::TKind::NotWritable:
    case TReplaceError::TKind::System: break;
  }
  return std::strerror(Error);
}

[[noreturn]] void Fail(TReplaceError::TKind Kind, int Error = 0) { throw TReplaceError(Kind, Error); }
[[noreturn]] void FailSystem(int Error) { Fail(TReplaceError::TKind::System, Error); }

mode_t CurrentUmask() {
  // Reading the mask from /proc avoids changing it, which would race with other threads.
  if (FILE* Status = std::fopen("/proc/self/status", "re")) {
    char Line[256];
    unsigned Mask = 022;
    while (std::fgets(Line, sizeof(Line), Status))
      if (std::sscanf(Line, "Umask: %o", &Mask) == 1) break;
    std::fclose(Status);
    return static_cast<mode_t>(Mask);
  }
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
    if (Error) FailSystem(Error.value());
    Current = Target.is_absolute() ? Target : Current.parent_path() / Target;
  }
  FailSystem(ELOOP);
}

bool HasNoWriteBit(mode_t Mode) { return (Mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

bool SameTime(const timespec& A, const timespec& B) { return A.tv_sec == B.tv_sec && A.tv_nsec == B.tv_nsec; }

// Whether another open file holds an fcntl or lockf lock of any kind on Fd's file. Our own lock
// sits on the same open file and is not reported.
bool OthersHoldLocks(int Fd) {
  struct flock Probe {};
  Probe.l_type = F_WRLCK;
  Probe.l_whence = SEEK_SET;
  if (::fcntl(Fd, F_OFD_GETLK, &Probe) != 0) return false;
  return Probe.l_type != F_UNLCK;
}

std::string RandomSuffix() {
  static thread_local std::mt19937_64 Generator{std::random_device{}()};
  static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string Suffix(8, 'x');
  for (char& C : Suffix) C = Letters[Generator() % (sizeof(Letters) - 1)];
  return Suffix;
}

void WriteAll(int Fd, const std::uint8_t* Data, std::size_t Length, std::uint64_t Pos) {
  while (Length > 0) {
    const ssize_t Written = ::pwrite(Fd, Data, Length, static_cast<off_t>(Pos));
    if (Written < 0) {
      if (errno == EINTR) continue;
      FailSystem(errno);
    }
    Data += Written;
    Length -= static_cast<std::size_t>(Written);
    Pos += static_cast<std::uint64_t>(Written);
  }
}

std::uint64_t CopyByReading(int From, std::uint64_t FromPos, int To, std::uint64_t ToPos, std::uint64_t Length) {
  std::vector<std::uint8_t> Buffer(static_cast<std::size_t>(std::min<std::uint64_t>(Length, ReadPieceSize)));
  std::uint64_t Done = 0;
  while (Done < Length) {
    const std::size_t Want = static_cast<std::size_t>(std::min<std::uint64_t>(Length - Done, Buffer.size()));
    const ssize_t Read = ::pread(From, Buffer.data(), Want, static_cast<off_t>(FromPos + Done));
    if (Read < 0) {
      if (errno == EINTR) continue;
      FailSystem(errno);
    }
    if (Read == 0) break;
    WriteAll(To, Buffer.data(), static_cast<std::size_t>(Read), ToPos + Done);
    Done += static_cast<std::uint64_t>(Read);
  }
  return Done;
}

// Gives the finished file From the name To, which must still be free: a name another process
// took meanwhile throws Changed. False when the file system cannot link.
bool LinkAsNew(const std::string& From, const std::string& To) {
  if (::linkat(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno == EEXIST) Fail(TReplaceError::TKind::Changed);
  return false;
}

// A name the open file Fd can be linked from.
std::string DescriptorPath(int Fd) { return "/proc/self/fd/" + std::to_string(Fd); }

void Flush(int Fd) {
  if (::fsync(Fd) != 0) FailSystem(errno);
}

// 0, or the errno of the failure.
int FlushFolder(const std::string& Folder) {
  const int Fd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) return errno;
  const int Error = ::fsync(Fd) == 0 ? 0 : errno;
  ::close(Fd);
  return Error;
}
}  // namespace

bool IsReadOnlyFile(const std::string& Path) {
  struct stat Info {};
  return ::stat(Path.c_str(), &Info) == 0 && HasNoWriteBit(Info.st_mode);
}

TReplaceError::TReplaceError(TKind Kind, int Error)
    : std::runtime_error(ErrorText(Kind, Error)), Kind(Kind), Error(Error) {}

std::uint64_t CopyFileRange(int From, std::uint64_t FromPos, int To, std::uint64_t ToPos, std::uint64_t Length) {
  std::uint64_t Done = 0;
  while (Done < Length) {
    loff_t In = static_cast<loff_t>(FromPos + Done);
    loff_t Out = static_cast<loff_t>(ToPos + Done);
    const ssize_t Copied = ::copy_file_range(From, &In, To, &Out, static_cast<std::size_t>(std::min<std::uint64_t>(Length - Done, 1ULL << 30)), 0);
    if (Copied > 0) {
      Done += static_cast<std::uint64_t>(Copied);
      continue;
    }
    if (Copied == 0) return Done;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP || errno == EBADF)
      return Done + CopyByReading(From, FromPos + Done, To, ToPos + Done, Length - Done);
    FailSystem(errno);
  }
  return Done;
}

TFileReplacement::~TFileReplacement() {
  if (TemporaryFd >= 0) ::close(TemporaryFd);
  if (!TemporaryName.empty()) ::unlink(TemporaryName.c_str());
  if (OriginalFd >= 0) ::close(OriginalFd);  // drops the locks with it
}

TFileReplacement::TOpenResult TFileReplacement::Open(const std::string& Path, bool MayCreate) {
  try {
    TargetPath = ResolvedTarget(Path);
  } catch (const TReplaceError& Error) {
    errno = Error.Error;
    return TOpenResult::Failed;
  }
  Folder = FolderOf(TargetPath);
  // Non-blocking so that a named pipe cannot hang the caller.
  OriginalFd = ::open(TargetPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (OriginalFd < 0) return errno == ENOENT && MayCreate ? TOpenResult::Created : TOpenResult::Failed;
  if (::fstat(OriginalFd, &Info) != 0) return TOpenResult::Failed;
  if (!S_ISREG(Info.st_mode)) return TOpenResult::NotRegular;
  if (::flock(OriginalFd, LOCK_EX | LOCK_NB) != 0)
    return errno == EWOULDBLOCK ? TOpenResult::Locked : TOpenResult::Failed;
  struct flock ReadLock {};
  ReadLock.l_type = F_RDLCK;
  ReadLock.l_whence = SEEK_SET;
  if (::fcntl(OriginalFd, F_OFD_SETLK, &ReadLock) != 0) {
    if (errno == EAGAIN || errno == EACCES) return TOpenResult::Locked;
  }
  if (OthersHoldLocks(OriginalFd)) return TOpenResult::Locked;
  if (TReadLease(OriginalFd).Writers() == TWriters::Some) return TOpenResult::InUse;
  return TOpenResult::Opened;
}

void TFileReplacement::CheckWritable() const {
  if (OriginalFd < 0) return;
  if (HasNoWriteBit(Info.st_mode)) Fail(TReplaceError::TKind::NotWritable, EACCES);
  if (::faccessat(AT_FDCWD, TargetPath.c_str(), W_OK, AT_EACCESS) != 0)
    Fail(TReplaceError::TKind::NotWritable, errno);
}

int TFileReplacement::Temporary() {
  if (TemporaryFd >= 0) return TemporaryFd;
  TemporaryFd = ::open(Folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (TemporaryFd >= 0) return TemporaryFd;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) FailSystem(errno);
  // A file system without unnamed files: a named one, hidden and clearly ours.
  std::string Template = Folder + "/.quillory-new-XXXXXX";
  TemporaryFd = ::mkostemp(Template.data(), O_CLOEXEC);
  if (TemporaryFd < 0) FailSystem(errno);
  TemporaryName = Template;
  return TemporaryFd;
}

void TFileReplacement::StartWriting() {
  // Only a head start: Commit's flush is what makes the content durable, whatever this did.
  if (TemporaryFd >= 0) ::sync_file_range(TemporaryFd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void TFileReplacement::CheckUnchanged() const {
  if (OriginalFd < 0) return;
  struct stat Now {};
  if (::fstat(OriginalFd, &Now) != 0) FailSystem(errno);
  if (Now.st_size != Info.st_size || !SameTime(Now.st_mtim, Info.st_mtim)) Fail(TReplaceError::TKind::Changed);
  struct stat Named {};
  if (::stat(TargetPath.c_str(), &Named) != 0 || Named.st_ino != Info.st_ino || Named.st_dev != Info.st_dev)
    Fail(TReplaceError::TKind::Changed);
  if (OthersHoldLocks(OriginalFd)) Fail(TReplaceError::TKind::Locked);
}

// Gives the new file the original's owner, group, access ACL, user attributes and exact
// permission bits; false when any of them could not be given.
bool TFileReplacement::TakeOverAccess() {
  if (OriginalFd < 0) {
    if (::fchmod(TemporaryFd, 0644 & ~CurrentUmask()) != 0) FailSystem(errno);
    return true;
  }
  if (Info.st_uid != ::geteuid() || Info.st_gid != ::getegid()) {
    if (::fchown(TemporaryFd, Info.st_uid, Info.st_gid) != 0) {
      // Not allowed to give the file away; the group may still be one of ours.
      if (Info.st_uid != ::geteuid() || ::fchown(TemporaryFd, static_cast<uid_t>(-1), Info.st_gid) != 0)
        return false;
    }
  }
  // After the owner: a change of owner clears the set-id bits. The ACL before the bits: setting it
  // sets the bits it covers, which then get the very same values.
  const bool AttributesKept = CopyAccessAttributes(OriginalFd, TemporaryFd);
  if (::fchmod(TemporaryFd, Info.st_mode & 07777) != 0) FailSystem(errno);
  // The system may drop a set-group-id bit the user is not entitled to.
  struct stat New {};
  if (::fstat(TemporaryFd, &New) != 0) FailSystem(errno);
  return AttributesKept && (New.st_mode & 07777) == (Info.st_mode & 07777);
}

void TFileReplacement::Commit(TDurability Durability) {
  Temporary();
  const bool AccessKept = TakeOverAccess();
  if (Durability == TDurability::Flushed) Flush(TemporaryFd);
  if (OriginalFd < 0) {
    LinkIn(nullptr);
    return;
  }
  // Held from before the last check to the end, so that nobody can start writing to the original
  // unnoticed.
  TReadLease Lease(OriginalFd);
  CheckUnchanged();
  if (Lease.Writers() == TWriters::Some) Fail(TReplaceError::TKind::InUse);
  if (Info.st_nlink > 1 || !AccessKept) {
    Lease.Release();  // our own writing would break it
    RewriteInPlace();
  } else {
    LinkIn(&Lease);
  }
}

// An unnamed file gets a name only for the moment it is put in place.
void TFileReplacement::NameTemporary() {
  if (!TemporaryName.empty()) return;
  const std::string Self = DescriptorPath(TemporaryFd);
  for (int Attempt = 0;; ++Attempt) {
    std::string Name = Folder + "/.quillory-new-" + RandomSuffix();
    if (::linkat(AT_FDCWD, Self.c_str(), AT_FDCWD, Name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      TemporaryName = std::move(Name);
      return;
    }
    if (errno != EEXIST || Attempt == 16) FailSystem(errno);
  }
}

// The new file and the original trade names, so that the original can get its name back should
// someone open it for writing at that moment (which breaks the lease): their writes must reach a
// file with a name. Lease is null for a file still to be made.
void TFileReplacement::LinkIn(const TReadLease* Lease) {
  // A file that was not there when it was opened must not take the place of one that another
  // process made meanwhile.
  const std::string Self = DescriptorPath(TemporaryFd);
  if (OriginalFd < 0 && LinkAsNew(TemporaryName.empty() ? Self : TemporaryName, TargetPath)) {
    if (!TemporaryName.empty()) ::unlink(TemporaryName.c_str());
    TemporaryName.clear();
    return;
  }
  NameTemporary();
  if (Lease != nullptr) {
    if (::renameat2(AT_FDCWD, TemporaryName.c_str(), AT_FDCWD, TargetPath.c_str(), RENAME_EXCHANGE) == 0) {
      // The trade is made durable before the lease is looked at, which also gives an open that
      // found the original under its name just before the trade the time to reach the lease.
      const int FlushError = FlushFolder(Folder);
      if (FlushError != 0 || Lease->Broken()) {
        if (::renameat2(AT_FDCWD, TemporaryName.c_str(), AT_FDCWD, TargetPath.c_str(), RENAME_EXCHANGE) != 0) {
          TemporaryName.clear();  // the original is under it now, and stays
          FailSystem(errno);
        }
        if (FlushError != 0) FailSystem(FlushError);
        Fail(TReplaceError::TKind::InUse);
      }
      ::unlink(TemporaryName.c_str());  // the original
      TemporaryName.clear();
      return;
    }
    // A file system that cannot trade names: the rename below.
    if (errno != EINVAL && errno != ENOSYS) FailSystem(errno);
    if (Lease->Broken()) Fail(TReplaceError::TKind::InUse);
  }
  if (::rename(TemporaryName.c_str(), TargetPath.c_str()) != 0) FailSystem(errno);
  TemporaryName.clear();
}

// The original's inode keeps its links, owner and group; its old content is kept aside first so
// that a write failing half-way can be undone.
void TFileReplacement::RewriteInPlace() {
  struct stat New {};
  if (::fstat(TemporaryFd, &New) != 0) FailSystem(errno);
  const int Backup = ::open(Folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (Backup < 0) FailSystem(errno);
  const int Writable = ::open(TargetPath.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (Writable < 0) {
    const int Error = errno;
    ::close(Backup);
    FailSystem(Error);
  }
  const auto OldSize = static_cast<std::uint64_t>(Info.st_size);
  const auto NewSize = static_cast<std::uint64_t>(New.st_size);
  try {
    if (CopyFileRange(OriginalFd, 0, Backup, 0, OldSize) != OldSize) Fail(TReplaceError::TKind::Changed);
    Flush(Backup);
  } catch (...) {
    ::close(Writable);
    ::close(Backup);
    throw;
  }
  try {
    // Reserving the space first keeps a full disk from stopping the write half-way.
    const int Reserved = ::fallocate(Writable, 0, 0, static_cast<off_t>(NewSize));
    if (Reserved != 0 && errno != EOPNOTSUPP) FailSystem(errno);
    if (CopyFileRange(TemporaryFd, 0, Writable, 0, NewSize) != NewSize) FailSystem(EIO);
    if (::ftruncate(Writable, static_cast<off_t>(NewSize)) != 0) FailSystem(errno);
    Flush(Writable);
  } catch (...) {
    try {
      CopyFileRange(Backup, 0, Writable, 0, OldSize);
    } catch (const TReplaceError&) {
      // The first failure is the one to report; the backup's bytes are as far as they got.
    }
    (void)!::ftruncate(Writable, static_cast<off_t>(OldSize));
    ::fsync(Writable);
    ::close(Writable);
    ::close(Backup);
    throw;
  }
  ::close(Writable);
  ::close(Backup);
}

void CommitContent(TFileReplacement& Replacement, std::span<const std::uint8_t> Bytes, TDurability Durability) {
  WriteAll(Replacement.Temporary(), Bytes.data(), Bytes.size(), 0);
  Replacement.Commit(Durability);
}

void WriteFileAtomically(const std::string& Path, std::span<const std::uint8_t> Bytes, TDurability Durability) {
  TFileReplacement Replacement;
  switch (Replacement.Open(Path, true)) {
    case TFileReplacement::TOpenResult::Opened:
    case TFileReplacement::TOpenResult::Created: break;
    case TFileReplacement::TOpenResult::NotRegular: FailSystem(EISDIR);
    case TFileReplacement::TOpenResult::Locked: Fail(TReplaceError::TKind::Locked);
    case TFileReplacement::TOpenResult::InUse: Fail(TReplaceError::TKind::InUse);
    case TFileReplacement::TOpenResult::Failed: FailSystem(errno);
  }
  CommitContent(Replacement, Bytes, Durability);
}
