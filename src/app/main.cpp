#include "app/TApplication.h"
#include "app/WebEngineEnvironment.h"
#include "ui/uFrmMain.h"

int main(int Argc, char** Argv) {
  PrepareWebEngine();
  TApplication Application(Argc, Argv);
  TFrmMain FrmMain;
  FrmMain.show();
  return Application.exec();
}
