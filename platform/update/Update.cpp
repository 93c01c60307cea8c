#include "Update.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <optional>

#include "vendor/UpdateText.h"

namespace {
constexpr int DefaultTimeLimit = 10'000;
constexpr int IdYes = 6;

int TimeLimit = DefaultTimeLimit;
TUpdateQuestion QuestionHandler = nullptr;
void* QuestionContext = nullptr;

bool IsWebAddress(const QUrl& Url) {
  return Url.isValid() && (Url.scheme() == "http" || Url.scheme() == "https") && !Url.host().isEmpty();
}

// The body of a 200 answer within the time limit, or nothing. Redirects are not followed.
std::optional<QByteArray> Fetch(const QUrl& Url) {
  QNetworkAccessManager Manager;
  QNetworkRequest Request(Url);
  Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  QNetworkReply* Reply = Manager.get(Request);

  QEventLoop Loop;
  QTimer Limit;
  Limit.setSingleShot(true);
  QObject::connect(&Limit, &QTimer::timeout, Reply, &QNetworkReply::abort);
  QObject::connect(Reply, &QNetworkReply::downloadProgress, Reply, [Reply](qint64 Received, qint64) {
    if (Received > static_cast<qint64>(MaxUpdateTextBytes)) Reply->abort();
  });
  QObject::connect(Reply, &QNetworkReply::finished, &Loop, &QEventLoop::quit);
  Limit.start(TimeLimit);
  // Painting and timers go on; input waits until the answer is in.
  if (!Reply->isFinished()) Loop.exec(QEventLoop::ExcludeUserInputEvents);

  if (Reply->error() != QNetworkReply::NoError) return std::nullopt;
  if (Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200) return std::nullopt;
  return Reply->readAll();
}

bool AskToOpen(QWidget* Owner, const QString& Text) {
  const QString Title = QStringLiteral("Quillory");
  if (QuestionHandler)
    return QuestionHandler(QuestionContext, Title.toUtf8().constData(), Text.toUtf8().constData()) == IdYes;
  QMessageBox Box(QMessageBox::Question, Title, Text, QMessageBox::Yes | QMessageBox::No, Owner);
  Box.setDefaultButton(QMessageBox::Yes);
  return Box.exec() == QMessageBox::Yes;
}

void CheckForUpdate(void* OwnerWindow, const char* UpdateInfoUrl) {
  if (QCoreApplication::instance() == nullptr || UpdateInfoUrl == nullptr) return;
  const QUrl InfoUrl(QString::fromUtf8(UpdateInfoUrl), QUrl::StrictMode);
  if (!IsWebAddress(InfoUrl)) return;
  QPointer<QWidget> Owner = OwnerWindow ? QWidget::find(reinterpret_cast<WId>(OwnerWindow)) : nullptr;

  const std::optional<QByteArray> Body = Fetch(InfoUrl);
  if (!Body) return;
  const std::optional<TUpdateInfo> Info = ParseUpdateText(std::string_view(Body->constData(), Body->size()));
  const std::optional<TVersion> Current = ParseVersion(QUILLORY_VERSION);
  if (!Info || !Current || !(*Current < Info->Version)) return;

  const QUrl Download(QString::fromStdString(Info->DownloadUrl), QUrl::StrictMode);
  if (!IsWebAddress(Download) || Download.host() != InfoUrl.host()) return;

  QString Text = QString::fromUtf8("发现新版本 %1（当前版本 %2）。")
                     .arg(QString::fromStdString(VersionText(Info->Version)), QStringLiteral(QUILLORY_VERSION));
  if (!Info->Notes.empty()) Text += "\n\n" + QString::fromStdString(Info->Notes);
  Text += QString::fromUtf8("\n\n是否打开下载页面？");
  if (AskToOpen(Owner, Text)) QDesktopServices::openUrl(Download);
}
}  // namespace

extern "C" void DoUpdate(void* OwnerWindow, const char* UpdateInfoUrl) {
  // Nothing may leave the component: whatever goes wrong, the check just shows nothing.
  try {
    CheckForUpdate(OwnerWindow, UpdateInfoUrl);
  } catch (...) {
  }
}

extern "C" void UpdateSetQuestionHandler(TUpdateQuestion Handler, void* Context) {
  QuestionHandler = Handler;
  QuestionContext = Context;
}

extern "C" void UpdateSetTimeLimit(int Milliseconds) {
  TimeLimit = Milliseconds > 0 ? Milliseconds : DefaultTimeLimit;
}
