#pragma once
// Shell link (.lnk) files written by tests in the documented binary layout: header, an item ID
// list, LinkInfo with a local base path and/or a network share, and the terminal extra-data block.
#include <cstdint>
#include <string>
#include <vector>

struct TShellLinkLayout {
  bool WithIdList = true;
  bool WithLinkInfo = true;
  // Local target: written when LocalBasePath or LocalBasePathUnicode is not empty.
  std::string LocalBasePath;
  std::u16string LocalBasePathUnicode;
  // Network target: written when NetName or NetNameUnicode is not empty.
  std::string NetName;
  std::u16string NetNameUnicode;
  std::string CommonPathSuffix;
  std::u16string CommonPathSuffixUnicode;
};

struct TShellLinkBytes {
  std::vector<std::uint8_t> Bytes;
  std::size_t LinkInfoPos = 0;  // where LinkInfo starts
  std::size_t LinkInfoEnd = 0;  // first byte after LinkInfo
};

TShellLinkBytes BuildShellLink(const TShellLinkLayout& Layout);
// A link whose LinkInfo names the 8-bit local path Target.
std::vector<std::uint8_t> ShellLinkTo(const std::string& Target);
