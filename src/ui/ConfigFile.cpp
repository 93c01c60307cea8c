#include "ui/ConfigFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "authenticode/TrustStore.h"
#include "history/OptionsStore.h"

namespace {
// /usr holds installed software that is shared and read-only by convention; run as root, the
// program could write there, but its settings would then be everybody's and lost on an upgrade.
bool IsInstalledSoftware(const QString& Dir) {
  const QString Clean = QDir::cleanPath(QFileInfo(Dir).absoluteFilePath());
  return Clean == "/usr" || Clean.startsWith("/usr/");
}
}  // namespace

std::string ConfigFilePath() { return ConfigFilePathFor(QCoreApplication::applicationDirPath()); }

std::string ConfigFilePathFor(const QString& ProgramDir) {
  if (!IsInstalledSoftware(ProgramDir) && QFileInfo(ProgramDir).isWritable())
    return QDir(ProgramDir).filePath("config.ini").toStdString();
  const QString UserDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  // A first start of an installed program finds no folder of its own there yet.
  QDir().mkpath(UserDir);
  return QDir(UserDir).filePath("config.ini").toStdString();
}

std::string ConfiguredVerifyTrustFile(const std::string& ConfigFile) {
  const QDir ProgramDir(QCoreApplication::applicationDirPath());
  std::string Resolved;
  for (const std::string& Source : TrustSources(ReadVerifyTrustFile(ConfigFile))) {
    if (!Resolved.empty()) Resolved += ';';
    Resolved += ProgramDir.filePath(QString::fromStdString(Source)).toStdString();
  }
  return Resolved;
}
