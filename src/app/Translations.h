#pragma once
// The translators for one language: Quillory's own texts and Qt's (standard buttons, file
// dialog). They stay installed while this object lives.
#include <QTranslator>

#include "app/Language.h"

class TTranslations {
 public:
  explicit TTranslations(TLanguage Language);
  TTranslations(const TTranslations&) = delete;
  TTranslations& operator=(const TTranslations&) = delete;

 private:
  QTranslator FQt;
  QTranslator FOwn;
};
