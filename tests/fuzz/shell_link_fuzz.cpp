// Feeds arbitrary bytes to the shell link reader. Besides memory errors it checks that a target,
// once read, depends only on the bytes up to the end of LinkInfo: trailing bytes never change it.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/ShellLinkReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::span<const std::uint8_t> Bytes(Data, Size);
  const auto Target = ReadShellLinkTarget(Bytes);
  if (!Target) return 0;
  std::vector<std::uint8_t> Longer(Bytes.begin(), Bytes.end());
  Longer.insert(Longer.end(), 64, 0xA5);
  if (ReadShellLinkTarget(Longer) != Target) std::abort();
  return 0;
}
