#pragma once
// Receives every address QDesktopServices::openUrl is asked to open for one scheme while it
// lives, instead of a desktop browser, and records them.
#include <QDesktopServices>
#include <QObject>
#include <QString>
#include <QUrl>
#include <vector>

class UrlRecorder : public QObject {
  Q_OBJECT

 public:
  explicit UrlRecorder(const QString& Scheme = "http") : Scheme(Scheme) {
    QDesktopServices::setUrlHandler(Scheme, this, "Open");
  }
  ~UrlRecorder() override { QDesktopServices::unsetUrlHandler(Scheme); }

  const std::vector<QUrl>& Opened() const { return Urls; }

 public slots:
  void Open(const QUrl& Url) { Urls.push_back(Url); }

 private:
  QString Scheme;
  std::vector<QUrl> Urls;
};
