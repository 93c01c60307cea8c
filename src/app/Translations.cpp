#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

TTranslations::TTranslations(TLanguage Language) {
  const QLocale Locale = Language == TLanguage::Chinese ? QLocale(QLocale::Chinese, QLocale::China)
                                                        : QLocale(QLocale::English, QLocale::UnitedStates);
  // Qt's own translations are optional: without them its texts stay English.
  if (FQt.load(Locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&FQt);
  // The sources hold the Chinese texts, so only other languages need a translation of our own.
  if (Language != TLanguage::Chinese && FOwn.load(Locale, "quillory", "_", ":/i18n"))
    QCoreApplication::installTranslator(&FOwn);
}
