#include "FileFormat.h"

#include <unistd.h>

#include <array>
#include <string_view>

#include "common/TextUtil.h"

bool IsSignableFormat(const std::string& Name, int Fd) {
  for (std::string_view Script : {".ps1", ".psm1", ".psd1", ".ps1xml", ".js", ".vbs", ".wsf"})
    if (EndsWithAscii(Name, Script)) return true;

  std::array<char, 8> Head{};
  const ssize_t Read = ::pread(Fd, Head.data(), Head.size(), 0);
  if (Read < 2) return false;
  const std::string_view Start(Head.data(), static_cast<std::size_t>(Read));
  const std::string_view Ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  return Start.substr(0, 2) == "MZ" || Start.substr(0, 4) == "MSCF" || Start == Ole ||
         Start.substr(0, 4) == std::string_view("PK\x03\x04", 4) ||
         (EndsWithAscii(Name, ".cat") && Start[0] == '\x30');
}
