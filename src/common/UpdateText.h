#pragma once
// The update-information text the vendor publishes, UTF-8, lines ending in LF or CR LF:
//   line 1   the newest version, one to four dot-separated numbers 0-65535 ("3.1" = 3.1.0.0)
//   line 2   the address of the download page
//   after    release notes, shown with the question (optional)
// Anything else, an empty text included, is no announcement at all.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

using TVersion = std::array<unsigned, 4>;

struct TUpdateInfo {
  TVersion Version{};
  std::string DownloadUrl;
  std::string Notes;
};

// Longer texts are not update information.
inline constexpr std::size_t MaxUpdateTextBytes = 64 * 1024;
// Notes beyond this are cut (at a character boundary) before they are shown.
inline constexpr std::size_t MaxUpdateNotesBytes = 2000;

std::optional<TVersion> ParseVersion(std::string_view Text);
std::optional<TUpdateInfo> ParseUpdateText(std::string_view Text);
std::string VersionText(const TVersion& Version);
