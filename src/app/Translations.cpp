#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

#include "common/MessageCatalogue.h"

TTranslations::TTranslations(TLanguage Language) {
  if (qEnvironmentVariableIsSet(LanguageVariable)) FChildrenLanguageBefore = qgetenv(LanguageVariable);
  const std::string_view ChildrenLanguage =
      LanguageVariableValue(Language == TLanguage::Chinese ? TMessageLanguage::Chinese : TMessageLanguage::English);
  qputenv(LanguageVariable, QByteArray(ChildrenLanguage.data(), static_cast<qsizetype>(ChildrenLanguage.size())));
  const QLocale Locale = Language == TLanguage::Chinese ? QLocale(QLocale::Chinese, QLocale::China)
                                                        : QLocale(QLocale::English, QLocale::UnitedStates);
  // Qt's own translations are optional: without them its texts stay English.
  if (FQt.load(Locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&FQt);
  // The sources hold the Chinese texts, so only other languages need a translation of our own.
  if (Language != TLanguage::Chinese && FOwn.load(Locale, "quillory", "_", ":/i18n"))
    QCoreApplication::installTranslator(&FOwn);
}

TTranslations::~TTranslations() {
  if (FChildrenLanguageBefore)
    qputenv(LanguageVariable, *FChildrenLanguageBefore);
  else
    qunsetenv(LanguageVariable);
}
