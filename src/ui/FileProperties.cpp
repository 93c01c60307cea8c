#include <QApplication>

#include "common/uPubFunc.h"
#include "ui/TFrmFileProperties.h"
#include "ui/uFrmMain.h"

namespace {
// The main window the properties windows belong to: the active one, else the first shown.
QWidget* MainWindow() {
  QWidget* Shown = nullptr;
  for (QWidget* Window : QApplication::topLevelWidgets()) {
    if (!qobject_cast<TFrmMain*>(Window)) continue;
    if (Window->isActiveWindow()) return Window;
    if (!Shown && Window->isVisible()) Shown = Window;
  }
  return Shown;
}
}  // namespace

void ShowFileProperties(const std::string& Path) {
  TFrmFileProperties::Open(QString::fromStdString(Path), MainWindow());
}
