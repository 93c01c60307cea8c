#include "filelist/TranslatedText.h"

#include <QCoreApplication>

std::string TranslatedText(const char* Context, const char* Text) {
  return QCoreApplication::translate(Context, Text).toStdString();
}
