#include "app/InfoOptions.h"
#include "app/Language.h"
#include "app/TApplication.h"
#include "app/Translations.h"
#include "app/WebEngineEnvironment.h"
#include "ui/ConfigFile.h"
#include "ui/uFrmMain.h"

int main(int Argc, char** Argv) {
  if (const std::optional<int> Answered = AnswerInfoOptions(Argc, Argv)) return *Answered;
  PrepareWebEngine();
  TApplication Application(Argc, Argv);
  const TTranslations Translations(ChooseLanguage(ConfigFilePath()));
  TFrmMain FrmMain;
  FrmMain.show();
  return Application.exec();
}
