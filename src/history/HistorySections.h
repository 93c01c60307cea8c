#pragma once
// The config.ini section of each history box, indexed by the box's Tag.
#include <array>

inline constexpr std::array<const char*, 4> HistorySections = {"Description", "File", "URL", "TimeStamp"};

// The section for Tag, or nullptr when Tag names none.
inline const char* HistorySectionOf(int Tag) {
  if (Tag < 0 || Tag >= static_cast<int>(HistorySections.size())) return nullptr;
  return HistorySections[static_cast<std::size_t>(Tag)];
}
