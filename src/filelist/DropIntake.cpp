#include "filelist/DropIntake.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>
#include <filesystem>
#include <set>
#include <utility>

#include "common/TextUtil.h"
#include "common/uPubFunc.h"
#include "filelist/TFileListModel.h"

namespace {
constexpr std::array<std::string_view, 4> ListableExtensions = {".exe", ".dll", ".sys", ".cab"};

bool IsNameBoundary(char C) { return C == '/' || C == '\\' || C == ':'; }

using TFileIdentity = std::pair<dev_t, ino_t>;

// The file a name leads to, through symbolic links; nullopt when there is none.
std::optional<TFileIdentity> IdentityOf(const std::string& Name) {
  struct stat Info {};
  if (::stat(Name.c_str(), &Info) != 0) return std::nullopt;
  return TFileIdentity{Info.st_dev, Info.st_ino};
}

bool HasDotSegmentOrDoubleSlash(std::string_view Name) {
  return Name.find("//") != std::string_view::npos || Name.find("/./") != std::string_view::npos ||
         Name.find("/../") != std::string_view::npos || Name.rfind("./", 0) == 0 || Name.rfind("../", 0) == 0 ||
         Name.ends_with("/.") || Name.ends_with("/..");
}

// Name without "." and ".." segments, when that still names what Name names. "dir/.." is the
// parent of wherever dir leads, which is not the folder the name shows when dir is a symbolic
// link, and a name through a missing folder names nothing at all: such names stay as given.
std::string WithoutDotSegments(const std::string& Name) {
  if (!HasDotSegmentOrDoubleSlash(Name)) return Name;
  const std::string Normal = std::filesystem::path(Name).lexically_normal().string();
  return IdentityOf(Name) == IdentityOf(Normal) ? Normal : Name;
}

// The files the list holds, asked of the file system once per drop: a file replaced since its
// row was added (signing does that) is then found under its current identity.
class TListedFiles {
 public:
  explicit TListedFiles(const TFileListModel& Files) : Files(Files) {}

  bool Contains(const TFileIdentity& File) {
    if (!Known) {
      for (auto Id = Files.First(); Id; Id = Files.Next(*Id))
        if (const auto Listed = IdentityOf(Files.FileName(*Id))) Identities.insert(*Listed);
      Known = true;
    }
    return Identities.count(File) > 0;
  }

  void Add(const TFileIdentity& File) {
    if (Known) Identities.insert(File);
  }

 private:
  const TFileListModel& Files;
  bool Known = false;
  std::set<TFileIdentity> Identities;
};
}  // namespace

std::string LowerExtension(std::string_view Name) {
  for (std::size_t Pos = Name.size(); Pos > 0; --Pos) {
    const char C = Name[Pos - 1];
    if (IsNameBoundary(C)) break;
    if (C == '.') return AsciiLower(Name.substr(Pos - 1));
  }
  return {};
}

std::optional<std::string> ListableName(const std::string& Name) {
  std::string Listed = Name;
  std::string Extension = LowerExtension(Listed);
  if (IsShortcut(Extension)) {
    Listed = ResolveShortcut(Listed);
    Extension = LowerExtension(Listed);
  }
  for (const std::string_view Listable : ListableExtensions)
    if (Extension == Listable) return Listed;
  return std::nullopt;
}

std::vector<std::string> FilesBelow(const std::string& Folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> Files;
  std::error_code Error;
  fs::recursive_directory_iterator Entry(Folder, fs::directory_options::skip_permission_denied, Error);
  for (; !Error && Entry != fs::recursive_directory_iterator(); Entry.increment(Error)) {
    std::error_code Unreadable;  // a dangling link, say: not a file, and the walk goes on
    if (Entry->is_regular_file(Unreadable)) Files.push_back(Entry->path().string());
  }
  std::sort(Files.begin(), Files.end());
  return Files;
}

int AppendDroppedNames(const std::vector<std::string>& Names, TFileListModel& Files) {
  TListedFiles Listed(Files);
  int Added = 0;
  for (const std::string& Name : Names) {
    const auto Listable = ListableName(Name);
    if (!Listable) continue;
    const std::string FileName = WithoutDotSegments(*Listable);
    if (Files.ContainsFileName(FileName)) continue;
    const auto Identity = IdentityOf(FileName);
    if (Identity && Listed.Contains(*Identity)) continue;
    Files.Append(FileName);
    if (Identity) Listed.Add(*Identity);
    ++Added;
  }
  return Added;
}
