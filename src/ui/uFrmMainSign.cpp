// Start: the signing batch.
#include <QPushButton>

#include "ui/uFrmMain.h"

void TFrmMain::btnAddSignClick() {}

void TFrmMain::SignThreadDone() {
  btnDelSign->setEnabled(true);
  btnAddSign->setEnabled(true);
}
