// Splits arbitrary command lines, and checks that quoting any value and splitting it again gives
// back exactly that value, whatever its blanks, quotes and backslashes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/WindowsCommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view Input(reinterpret_cast<const char*>(Data), Size);
  for (const std::string& Argument : SplitCommandLine(Input))
    if (Argument.size() > Input.size()) std::abort();

  // The input's halves become two values; the quoted line must give them back unchanged.
  const std::string_view First = Input.substr(0, Size / 2);
  const std::string_view Second = Input.substr(Size / 2);
  const auto Split = SplitCommandLine("prog " + QuoteArgument(First) + " " + QuoteArgument(Second));
  if (Split.size() != 3 || Split[0] != "prog" || Split[1] != First || Split[2] != Second) std::abort();
  return 0;
}
