#include "ui/ConfigFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "history/OptionsStore.h"

std::string ConfigFilePath() {
  const QString ProgramDir = QCoreApplication::applicationDirPath();
  if (QFileInfo(ProgramDir).isWritable()) return QDir(ProgramDir).filePath("config.ini").toStdString();
  const QString UserDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  // A first start of an installed program finds no folder of its own there yet.
  QDir().mkpath(UserDir);
  return QDir(UserDir).filePath("config.ini").toStdString();
}

std::string ConfiguredVerifyTrustFile(const std::string& ConfigFile) {
  const std::string Name = ReadVerifyTrustFile(ConfigFile);
  if (Name.empty()) return {};
  return QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromStdString(Name)).toStdString();
}
