// The update-information text comes from the network: any bytes must parse or be refused cleanly.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/UpdateText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string_view Text(reinterpret_cast<const char*>(Data), Size);
  if (const auto Info = ParseUpdateText(Text)) {
    if (Info->Notes.size() > MaxUpdateNotesBytes || Info->DownloadUrl.empty()) __builtin_trap();
    if (ParseVersion(VersionText(Info->Version)) != Info->Version) __builtin_trap();
  }
  return 0;
}
