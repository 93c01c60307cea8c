#include "common/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

TMappedFile::TOpenResult TMappedFile::Open(const std::string& Path) {
  Close();
  // Non-blocking so that a named pipe carrying a program's name cannot hang the caller.
  Descriptor = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (Descriptor < 0) return TOpenResult::OpenFailed;

  const auto Fail = [this](TOpenResult Result) {
    Close();
    return Result;
  };
  struct stat Info {};
  if (::fstat(Descriptor, &Info) != 0) return Fail(TOpenResult::MappingFailed);
  if (!S_ISREG(Info.st_mode)) return Fail(TOpenResult::OpenFailed);
  if (Info.st_size <= 0 ||
      static_cast<std::uintmax_t>(Info.st_size) > std::numeric_limits<std::size_t>::max())
    return Fail(TOpenResult::MappingFailed);

  const auto Length = static_cast<std::size_t>(Info.st_size);
  void* View = ::mmap(nullptr, Length, PROT_READ, MAP_SHARED, Descriptor, 0);
  if (View == MAP_FAILED) return Fail(TOpenResult::ViewFailed);
  Data = static_cast<const std::uint8_t*>(View);
  Size = Length;
  return TOpenResult::Ok;
}

void TMappedFile::Close() {
  if (Data != nullptr) ::munmap(const_cast<std::uint8_t*>(Data), Size);
  Data = nullptr;
  Size = 0;
  if (Descriptor >= 0) ::close(Descriptor);
  Descriptor = -1;
}

void TMappedFile::Prefault(std::size_t Pos, std::size_t Length) const {
  if (Pos >= Size || Length == 0) return;
  const auto PageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t Start = Pos / PageSize * PageSize;
  const std::size_t End = Length > Size - Pos ? Size : Pos + Length;
  ::madvise(const_cast<std::uint8_t*>(Data) + Start, End - Start, MADV_POPULATE_READ);
}
