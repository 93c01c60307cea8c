// Starts the main window the way the program does, in the language that the locale and the
// config.ini named by the first argument choose, and prints what the user would read.
#include <QTextStream>

#include "app/Language.h"
#include "app/TApplication.h"
#include "app/Translations.h"
#include "app/WebEngineEnvironment.h"
#include "support/WindowTexts.h"
#include "ui/uFrmMain.h"

int main(int Argc, char** Argv) {
  if (Argc != 2) return 2;
  PrepareWebEngine();
  TApplication Application(Argc, Argv);
  const TTranslations Translations(ChooseLanguage(Argv[1]));
  TFrmMain Form;
  QTextStream Out(stdout);
  for (const QString& Line : WindowTexts(Form)) Out << Line << '\n';
  Out << "Prompt\t" << EmptyStartPrompt(Form) << '\n';
  Out << "QtOk\t" << QtOkButtonText() << '\n';
  return 0;
}
