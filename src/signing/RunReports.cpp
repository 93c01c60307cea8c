#include "signing/RunReports.h"

#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>

TRunReports::TRunReports() : Folder(OpenPrivateFolder(0)) {
  if (Folder.Path.empty()) return;
  std::string Template = (Folder.Path / "quillory-reports-XXXXXX").native();
  if (::mkdtemp(Template.data()) != nullptr) Path = std::move(Template);
}

TRunReports::~TRunReports() {
  std::error_code Ignored;
  // Reports of runs cut short may be left.
  if (!Path.empty()) std::filesystem::remove_all(Path, Ignored);
  if (Folder.MadeForUs) ::rmdir(Folder.Path.c_str());
}

std::string TRunReports::PathFor(TRowId Row) const {
  return Path.empty() ? std::string() : Path + "/" + std::to_string(Row) + ".json";
}

std::vector<std::pair<std::string, std::string>> TRunReports::RunEnvironment() const {
  return {{TransientReportVariable, "1"}};
}

std::optional<TReportEntry> TakeRunReport(const std::string& Path) {
  QFile File(QString::fromStdString(Path));
  if (!File.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray Text = File.readAll();
  File.close();
  File.remove();
  const QJsonArray Files = QJsonDocument::fromJson(Text).object().value("files").toArray();
  if (Files.isEmpty()) return std::nullopt;
  const QJsonObject Entry = Files.first().toObject();
  const auto Field = [&Entry](const char* Name) { return Entry.value(QLatin1String(Name)).toString().toStdString(); };
  const QDateTime Stamped = QDateTime::fromString(Entry.value("timestamp").toString(), Qt::ISODate);
  return TReportEntry{Field("path"),
                      Field("sha256Before"),
                      Field("sha256After"),
                      Field("result"),
                      Field("message"),
                      Field("signer"),
                      Field("thumbprint"),
                      Stamped.isValid() ? Stamped.toSecsSinceEpoch() : 0,
                      Field("timestampServer")};
}
