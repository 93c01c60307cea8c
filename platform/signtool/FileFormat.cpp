#include "FileFormat.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <string_view>

namespace {
bool HasExtension(const std::string& Path, std::string_view Extension) {
  if (Path.size() < Extension.size()) return false;
  for (std::size_t I = 0; I < Extension.size(); ++I) {
    char C = Path[Path.size() - Extension.size() + I];
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
    if (C != Extension[I]) return false;
  }
  return true;
}
}  // namespace

bool IsSignableFormat(const std::string& Path) {
  for (std::string_view Script : {".ps1", ".psm1", ".psd1", ".ps1xml", ".js", ".vbs", ".wsf"})
    if (HasExtension(Path, Script)) return true;

  std::array<char, 8> Head{};
  const int File = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (File < 0) return false;
  const ssize_t Read = ::read(File, Head.data(), Head.size());
  ::close(File);
  if (Read < 2) return false;
  const std::string_view Start(Head.data(), static_cast<std::size_t>(Read));
  const std::string_view Ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  return Start.substr(0, 2) == "MZ" || Start.substr(0, 4) == "MSCF" || Start == Ole ||
         Start.substr(0, 4) == std::string_view("PK\x03\x04", 4) ||
         (HasExtension(Path, ".cat") && Start[0] == '\x30');
}
