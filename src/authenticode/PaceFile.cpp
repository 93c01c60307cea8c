#include "authenticode/PaceFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

namespace {
// A batch names a handful of hosts and servers; a longer file is not ours, and what lies beyond
// is not read.
constexpr std::size_t MaxRecordBytes = 64 * 1024;
// Where the places begin, far past any records.
constexpr off_t PlacesStart = off_t(1) << 32;

[[noreturn]] void ThrowSystemError(const char* What) { throw std::system_error(errno, std::system_category(), What); }

TPaceRecords ReadRecords(int File) {
  std::string Text(MaxRecordBytes, '\0');
  std::size_t Length = 0;
  while (Length < Text.size()) {
    const ssize_t Read = ::pread(File, Text.data() + Length, Text.size() - Length, static_cast<off_t>(Length));
    if (Read < 0 && errno == EINTR) continue;
    if (Read < 0) ThrowSystemError("Reading the timestamp pace file");
    if (Read == 0) break;
    Length += static_cast<std::size_t>(Read);
  }
  Text.resize(Length);
  TPaceRecords Records;
  for (std::string_view Rest = Text; !Rest.empty();) {
    const std::size_t End = Rest.find('\n');
    // A line without its end was cut off (a writer that died): it is left out.
    if (End == std::string_view::npos) break;
    const std::string_view Line = Rest.substr(0, End);
    Rest.remove_prefix(End + 1);
    const std::size_t Blank = Line.find(' ');
    if (Blank != std::string_view::npos && Blank > 0)
      Records.emplace(std::string(Line.substr(0, Blank)), Line.substr(Blank + 1));
  }
  return Records;
}

void WriteRecords(int File, const TPaceRecords& Records) {
  std::string Text;
  for (const auto& [Key, Values] : Records) Text += Key + ' ' + Values + '\n';
  for (std::size_t Written = 0; Written < Text.size();) {
    const ssize_t Count = ::pwrite(File, Text.data() + Written, Text.size() - Written, static_cast<off_t>(Written));
    if (Count < 0 && errno == EINTR) continue;
    if (Count < 0) ThrowSystemError("Writing the timestamp pace file");
    Written += static_cast<std::size_t>(Count);
  }
  if (::ftruncate(File, static_cast<off_t>(Text.size())) != 0) ThrowSystemError("Writing the timestamp pace file");
}

struct flock PlaceLock(short Type, std::uint64_t First, std::uint64_t Count) {
  struct flock Lock {};
  Lock.l_type = Type;
  Lock.l_whence = SEEK_SET;
  Lock.l_start = PlacesStart + static_cast<off_t>(First);
  Lock.l_len = static_cast<off_t>(Count);
  return Lock;
}

// Holds the file's lock for a scope.
class TFileLock {
 public:
  explicit TFileLock(int File) : File(File) {
    while (::flock(File, LOCK_EX) != 0)
      if (errno != EINTR) ThrowSystemError("Locking the timestamp pace file");
  }
  ~TFileLock() { ::flock(File, LOCK_UN); }
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

 private:
  int File;
};

TDescriptor UnnamedPaceFile() {
  TDescriptor File(::memfd_create("timestamp-pace", MFD_CLOEXEC));
  if (!File.IsOpen()) ThrowSystemError("Making the timestamp pace file");
  return File;
}
}  // namespace

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

TPaceFile::TPaceFile() : TPaceFile(UnnamedPaceFile()) {}

TPaceFile::TPaceFile(TDescriptor File) : File(std::move(File)) {}

void TPaceFile::Update(const std::function<void(TLocked&)>& Change) {
  const std::lock_guard Guard(Lock);
  const TFileLock Locked(File.Get());
  TLocked View(*this);
  View.Records = ReadRecords(File.Get());
  const TPaceRecords Before = View.Records;
  Change(View);
  if (View.Records != Before) WriteRecords(File.Get(), View.Records);
}

int TPaceFile::TLocked::HeldPlaces(std::uint64_t First, int Count) const {
  int Held = 0;
  for (auto Place = File.HeldHere.lower_bound(First); Place != File.HeldHere.end() && *Place < First + Count; ++Place)
    ++Held;
  return Held + HeldElsewhere(First, First + static_cast<std::uint64_t>(Count));
}

int TPaceFile::TLocked::HeldElsewhere(std::uint64_t From, std::uint64_t To) const {
  if (From >= To) return 0;
  // The lock test names one lock of another opening in the range, not necessarily the first.
  struct flock Lock = PlaceLock(F_WRLCK, From, To - From);
  if (::fcntl(File.File.Get(), F_OFD_GETLK, &Lock) != 0) ThrowSystemError("Reading the timestamp pace file's locks");
  if (Lock.l_type == F_UNLCK) return 0;
  const std::uint64_t Start = std::max(static_cast<std::uint64_t>(Lock.l_start - PlacesStart), From);
  const std::uint64_t End =
      Lock.l_len == 0 ? To : std::min(static_cast<std::uint64_t>(Lock.l_start - PlacesStart + Lock.l_len), To);
  return static_cast<int>(End - Start) + HeldElsewhere(From, Start) + HeldElsewhere(End, To);
}

bool TPaceFile::TLocked::Hold(std::uint64_t Place) {
  if (File.HeldHere.count(Place) != 0) return false;
  struct flock Lock = PlaceLock(F_WRLCK, Place, 1);
  if (::fcntl(File.File.Get(), F_OFD_SETLK, &Lock) != 0) return false;
  File.HeldHere.insert(Place);
  return true;
}

void TPaceFile::Free(std::uint64_t Place) noexcept {
  const std::lock_guard Guard(Lock);
  struct flock Unlock = PlaceLock(F_UNLCK, Place, 1);
  ::fcntl(File.Get(), F_OFD_SETLK, &Unlock);
  HeldHere.erase(Place);
}
