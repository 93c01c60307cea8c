#include "history/LanguageSetting.h"

#include "history/HistoryStore.h"

namespace {
constexpr const char* Section = "Options";
constexpr const char* Key = "Language";
constexpr const char* ChineseValue = "zh_CN";
constexpr const char* EnglishValue = "en";
}  // namespace

TLanguageSetting ReadLanguageSetting(const std::string& ConfigFile) {
  const std::string Value = THistoryStore(ConfigFile).Read(Section, Key);
  if (Value == ChineseValue) return TLanguageSetting::Chinese;
  if (Value == EnglishValue) return TLanguageSetting::English;
  return TLanguageSetting::FromLocale;
}

void WriteLanguageSetting(const std::string& ConfigFile, TLanguageSetting Setting) {
  THistoryStore Store(ConfigFile);
  switch (Setting) {
    case TLanguageSetting::FromLocale: Store.Delete(Section, Key); break;
    case TLanguageSetting::Chinese: Store.Write(Section, Key, ChineseValue); break;
    case TLanguageSetting::English: Store.Write(Section, Key, EnglishValue); break;
  }
  Store.Save();
}
