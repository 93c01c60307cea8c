#include "app/TApplication.h"
#include "ui/uFrmMain.h"

int main(int Argc, char** Argv) {
  TApplication Application(Argc, Argv);
  TFrmMain FrmMain;
  FrmMain.show();
  return Application.exec();
}
