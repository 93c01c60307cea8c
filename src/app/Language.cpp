#include "app/Language.h"

#include <QLocale>

#include "history/LanguageSetting.h"

TLanguage LanguageOfUiLanguages(const QStringList& UiLanguages) {
  if (UiLanguages.isEmpty()) return TLanguage::Chinese;
  // By name, not through QLocale(name): a language Qt does not know would turn into C.
  const QString& First = UiLanguages.first();
  if (First == "C" || First == "POSIX") return TLanguage::Chinese;
  const QString Code = First.section('-', 0, 0).section('_', 0, 0);
  return Code.compare("zh", Qt::CaseInsensitive) == 0 ? TLanguage::Chinese : TLanguage::English;
}

TLanguage ChooseLanguage(const std::string& ConfigFile) {
  switch (ReadLanguageSetting(ConfigFile)) {
    case TLanguageSetting::Chinese: return TLanguage::Chinese;
    case TLanguageSetting::English: return TLanguage::English;
    case TLanguageSetting::FromLocale: break;
  }
  return LanguageOfUiLanguages(QLocale::system().uiLanguages());
}
