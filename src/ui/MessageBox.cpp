#include "ui/MessageBox.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>

namespace {
TMessageBoxHandler& Handler() {
  static TMessageBoxHandler Instance;
  return Instance;
}

QMessageBox::Icon IconOf(unsigned Style) {
  switch (Style & 0xF0) {
    case mbIconError: return QMessageBox::Critical;
    case mbIconQuestion: return QMessageBox::Question;
    case mbIconWarning: return QMessageBox::Warning;
    case mbIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

int ShowOnGuiThread(const TMessageBoxRequest& Request) {
  if (Handler()) return Handler()(Request);
  QMessageBox Box(IconOf(Request.Style), QString::fromStdString(Request.Title),
                  QString::fromStdString(Request.Text));
  Box.setWindowModality(Qt::ApplicationModal);
  if ((Request.Style & 0x0F) == mbYesNo) {
    Box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    Box.setEscapeButton(QMessageBox::No);
    return Box.exec() == QMessageBox::Yes ? idYes : idNo;
  }
  Box.setStandardButtons(QMessageBox::Ok);
  Box.exec();
  return idOk;
}
}  // namespace

int ShowMessageBox(const TMessageBoxRequest& Request) {
  QCoreApplication* App = QCoreApplication::instance();
  if (App == nullptr || QThread::currentThread() == App->thread()) return ShowOnGuiThread(Request);
  int Result = idOk;
  QMetaObject::invokeMethod(
      App, [&Request, &Result] { Result = ShowOnGuiThread(Request); }, Qt::BlockingQueuedConnection);
  return Result;
}

void SetMessageBoxHandler(TMessageBoxHandler NewHandler) { Handler() = std::move(NewHandler); }
