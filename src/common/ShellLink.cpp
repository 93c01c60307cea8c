#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/ShellLinkReader.h"
#include "common/TextUtil.h"
#include "common/uPubFunc.h"

namespace {
// Far beyond any real shell link (its ID list is limited to 64 KiB); a bigger file's target
// structures would lie past what is read and the file counts as unreadable.
constexpr std::uintmax_t MaxLinkFileSize = 1 << 20;

std::vector<std::uint8_t> ReadHead(const std::string& Path) {
  std::error_code Failure;
  const auto Size = std::filesystem::file_size(Path, Failure);
  if (Failure) return {};
  std::ifstream File(Path, std::ios::binary);
  std::vector<std::uint8_t> Bytes(std::min<std::uintmax_t>(Size, MaxLinkFileSize));
  File.read(reinterpret_cast<char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
  Bytes.resize(static_cast<std::size_t>(File.gcount()));
  return Bytes;
}
}  // namespace

bool IsShortcut(const std::string& Ext) { return SameTextAscii(Ext, ".lnk"); }

std::string ResolveShortcut(const std::string& Path) {
  return ReadShellLinkTarget(ReadHead(Path)).value_or(Path);
}
