#include "DemoWindow.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>

#include <cstdio>

#include "ui/TFileListView.h"
#include "ui/uFrmMain.h"

bool ShowWindow(TFrmMain& Form, const std::string& ConfigFile) {
  Form.FConfigFile = ConfigFile;
  Form.LoadHistory();
  Form.show();
  if (QTest::qWaitForWindowExposed(&Form)) return true;
  std::fprintf(stderr, "the window did not appear\n");
  return false;
}

void TypeKeys(QWidget* Box, const QString& Text, int DelayMs) {
  for (const QChar Character : Text)
    QTest::sendKeyEvent(QTest::Click, Box, Qt::Key_unknown, QString(Character), Qt::NoModifier, DelayMs);
}

void DropOnList(TFrmMain& Form, const QList<QUrl>& Files) {
  QMimeData Data;
  Data.setUrls(Files);
  QWidget* Target = Form.vstFiles->viewport();
  const QPoint At = Target->rect().center();
  QDragEnterEvent Enter(At, Qt::CopyAction | Qt::MoveAction, &Data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Target, &Enter);
  QDropEvent Drop(At, Qt::CopyAction | Qt::MoveAction, &Data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Target, &Drop);
}
