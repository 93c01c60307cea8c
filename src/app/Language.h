#pragma once
// Which language the window speaks. The texts in the sources are Chinese; English comes from a
// translation built into the program.
#include <QStringList>
#include <string>

enum class TLanguage { Chinese, English };

// Chinese when the first user-interface language is Chinese or the plain C/POSIX locale;
// English for every other. Takes QLocale::uiLanguages(), which already weighs LANGUAGE,
// LC_ALL, LC_MESSAGES and LANG.
TLanguage LanguageOfUiLanguages(const QStringList& UiLanguages);

// The language for this start: the setting in ConfigFile when it names one, else the system's
// locale.
TLanguage ChooseLanguage(const std::string& ConfigFile);
