#include "app/Language.h"

#include <QLocale>

#include "history/HistoryStore.h"

TLanguage LanguageOfUiLanguages(const QStringList& UiLanguages) {
  if (UiLanguages.isEmpty()) return TLanguage::Chinese;
  // By name, not through QLocale(name): a language Qt does not know would turn into C.
  const QString& First = UiLanguages.first();
  if (First == "C" || First == "POSIX") return TLanguage::Chinese;
  const QString Code = First.section('-', 0, 0).section('_', 0, 0);
  return Code.compare("zh", Qt::CaseInsensitive) == 0 ? TLanguage::Chinese : TLanguage::English;
}

std::optional<TLanguage> LanguageOfSetting(std::string_view Value) {
  if (Value == "zh_CN") return TLanguage::Chinese;
  if (Value == "en") return TLanguage::English;
  return std::nullopt;
}

TLanguage ChooseLanguage(const std::string& ConfigFile) {
  if (const auto Chosen = LanguageOfSetting(THistoryStore(ConfigFile).Read("Options", "Language"))) return *Chosen;
  return LanguageOfUiLanguages(QLocale::system().uiLanguages());
}
