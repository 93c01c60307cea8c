#include "support/FileAccess.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "support/Process.h"

void PrintTo(const TFileAccess& Access, std::ostream* Out) {
  *Out << "mode " << std::oct << Access.Mode << std::dec << "\n" << Access.Acl;
  for (const auto& [Name, Value] : Access.UserAttributes) *Out << Name << "=" << Value << "\n";
}

TFileAccess AccessOf(const std::string& Path) {
  TFileAccess Access;
  struct stat Info {};
  if (::stat(Path.c_str(), &Info) != 0) throw std::runtime_error("cannot stat " + Path);
  Access.Mode = Info.st_mode & 07777;
  const TProcessResult Listing = RunProcess("getfacl", {"--omit-header", "--numeric", "--absolute-names", Path});
  if (Listing.ExitCode != 0) throw std::runtime_error("getfacl failed: " + Listing.Err);
  Access.Acl = Listing.Out;
  std::vector<char> Names(65536);
  const ssize_t Length = ::listxattr(Path.c_str(), Names.data(), Names.size());
  for (ssize_t Start = 0; Start < Length; Start += static_cast<ssize_t>(std::strlen(Names.data() + Start)) + 1) {
    const std::string Name = Names.data() + Start;
    if (Name.rfind("user.", 0) != 0) continue;
    std::vector<char> Value(65536);
    const ssize_t Size = ::getxattr(Path.c_str(), Name.c_str(), Value.data(), Value.size());
    if (Size < 0) throw std::runtime_error("cannot read " + Name);
    Access.UserAttributes[Name] = std::string(Value.data(), static_cast<std::size_t>(Size));
  }
  return Access;
}

bool HasAccessAcl(const std::string& Path) {
  return ::getxattr(Path.c_str(), "system.posix_acl_access", nullptr, 0) >= 0;
}

bool SetFacl(const std::string& Path, const std::vector<std::string>& Arguments) {
  std::vector<std::string> All = Arguments;
  All.push_back(Path);
  return RunProcess("setfacl", All).ExitCode == 0;
}
