#pragma once
// The window's language as [Options] Language in config.ini names it: "zh_CN" or "en". Any other
// value, and none, leaves the choice to the locale. It is read once, at start.
#include <string>

enum class TLanguageSetting { FromLocale, Chinese, English };

TLanguageSetting ReadLanguageSetting(const std::string& ConfigFile);
// FromLocale removes the key; every other entry of the file stays. Throws
// std::runtime_error("Unable to write to <path>") when the file cannot be written.
void WriteLanguageSetting(const std::string& ConfigFile, TLanguageSetting Setting);
