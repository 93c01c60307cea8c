#include "filelist/DisplayedMessage.h"

#include <QCoreApplication>

QString DisplayedMessage(const std::string& Text) {
  const QString Source = QString::fromStdString(Text);
  for (const char* Context : {"StripSignature", "VerifySignature"}) {
    const QString Shown = QCoreApplication::translate(Context, Text.c_str());
    if (Shown != Source) return Shown;
  }
  return Source;
}
