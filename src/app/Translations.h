#pragma once
// The translators for one language: Quillory's own texts and Qt's (standard buttons, file
// dialog). They stay installed while this object lives, and the programs this process starts
// meanwhile (signtool.exe) speak the same language: it is set in the environment they inherit.
#include <QByteArray>
#include <QTranslator>

#include <optional>

#include "app/Language.h"

class TTranslations {
 public:
  explicit TTranslations(TLanguage Language);
  TTranslations(const TTranslations&) = delete;
  TTranslations& operator=(const TTranslations&) = delete;
  // Gives the children's language back to what it was before.
  ~TTranslations();

 private:
  QTranslator FQt;
  QTranslator FOwn;
  std::optional<QByteArray> FChildrenLanguageBefore;  // nothing when it was not set
};
