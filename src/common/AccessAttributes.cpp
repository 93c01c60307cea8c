#include "common/AccessAttributes.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace {
constexpr const char* AccessAcl = "system.posix_acl_access";

// Reads with Get (called with a buffer and its size), growing the buffer while the value grows;
// nullopt with errno set when it fails.
template <typename TGet>
std::optional<std::vector<char>> ReadGrowing(TGet Get) {
  for (;;) {
    const ssize_t Size = Get(nullptr, 0);
    if (Size < 0) return std::nullopt;
    // One byte more than asked for: a result that fills the buffer cannot be mistaken for a
    // size.
    std::vector<char> Value(static_cast<std::size_t>(Size) + 1);
    const ssize_t Read = Get(Value.data(), Value.size());
    if (Read >= 0) {
      Value.resize(static_cast<std::size_t>(Read));
      return Value;
    }
    if (errno != ERANGE) return std::nullopt;
  }
}

std::optional<std::vector<char>> ValueOf(int Fd, const char* Name) {
  return ReadGrowing([&](char* Buffer, std::size_t Size) { return ::fgetxattr(Fd, Name, Buffer, Size); });
}

bool NoSuchAttribute(int Error) { return Error == ENODATA || Error == ENOTSUP; }

bool CopyUserAttributes(int From, int To) {
  const auto Names = ReadGrowing([&](char* Buffer, std::size_t Size) { return ::flistxattr(From, Buffer, Size); });
  if (!Names) return NoSuchAttribute(errno);
  bool Copied = true;
  for (std::size_t Start = 0; Start < Names->size();) {
    const char* Name = Names->data() + Start;
    Start += std::strlen(Name) + 1;
    if (!std::string_view(Name).starts_with("user.")) continue;
    const auto Value = ValueOf(From, Name);
    if (!Value) {
      if (errno != ENODATA) Copied = false;  // ENODATA: removed meanwhile
      continue;
    }
    if (::fsetxattr(To, Name, Value->data(), Value->size(), 0) != 0) Copied = false;
  }
  return Copied;
}

bool CopyAccessAcl(int From, int To) {
  if (const auto Acl = ValueOf(From, AccessAcl)) return ::fsetxattr(To, AccessAcl, Acl->data(), Acl->size(), 0) == 0;
  if (!NoSuchAttribute(errno)) return false;
  return ::fremovexattr(To, AccessAcl) == 0 || NoSuchAttribute(errno);
}
}  // namespace

bool CopyAccessAttributes(int From, int To) {
  const bool UserAttributes = CopyUserAttributes(From, To);
  return CopyAccessAcl(From, To) && UserAttributes;
}
