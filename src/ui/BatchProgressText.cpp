#include "ui/BatchProgressText.h"

#include <QCoreApplication>

QString BatchProgressText(const TFileBatch::TProgress& Progress) {
  QString Text = QCoreApplication::translate("BatchProgressText", "已完成 %1/%2").arg(Progress.Done).arg(Progress.Total);
  if (!Progress.SecondsLeft) return Text;
  const int Seconds = *Progress.SecondsLeft;
  if (Seconds < 60) return Text + QCoreApplication::translate("BatchProgressText", "，剩余约 %1 秒").arg(Seconds);
  return Text + QCoreApplication::translate("BatchProgressText", "，剩余约 %1 分 %2 秒")
                    .arg(Seconds / 60)
                    .arg(Seconds % 60, 2, 10, QChar('0'));
}
