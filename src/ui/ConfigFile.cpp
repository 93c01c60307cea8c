#include "ui/ConfigFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

std::string ConfigFilePath() {
  const QString ProgramDir = QCoreApplication::applicationDirPath();
  if (QFileInfo(ProgramDir).isWritable()) return QDir(ProgramDir).filePath("config.ini").toStdString();
  const QString UserDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  return QDir(UserDir).filePath("config.ini").toStdString();
}
