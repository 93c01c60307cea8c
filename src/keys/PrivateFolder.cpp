#include "keys/PrivateFolder.h"

#include <string.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace {
bool FitsSocketAddress(const std::filesystem::path& Folder, std::size_t LongestName) {
  return Folder.native().size() + 1 + LongestName < sizeof(sockaddr_un::sun_path);
}
}  // namespace

bool IsPrivateFolder(const std::filesystem::path& Path) {
  struct stat Info {};
  return ::lstat(Path.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode) && Info.st_uid == ::geteuid() &&
         (Info.st_mode & 0077) == 0 && ::access(Path.c_str(), W_OK | X_OK) == 0;
}

TPrivateFolder OpenPrivateFolder(std::size_t LongestName) {
  const char* Runtime = std::getenv("XDG_RUNTIME_DIR");
  if (Runtime && *Runtime == '/' && IsPrivateFolder(Runtime) && FitsSocketAddress(Runtime, LongestName))
    return {Runtime, false, {}};

  std::error_code Ignored;
  std::filesystem::path Temp = std::filesystem::temp_directory_path(Ignored);
  if (Temp.empty() || !FitsSocketAddress(Temp / "quillory-XXXXXX", LongestName)) Temp = "/tmp";
  std::string Template = (Temp / "quillory-XXXXXX").native();
  if (!::mkdtemp(Template.data()))
    return {{}, false, "A private folder cannot be made in " + Temp.native() + ": " + ::strerror(errno)};
  if (!IsPrivateFolder(Template)) {
    ::rmdir(Template.c_str());
    return {{}, false, "The folder made in " + Temp.native() + " is not private."};
  }
  return {Template, true, {}};
}
