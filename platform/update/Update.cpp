#include "Update.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <optional>

#include "HttpGet.h"
#include "common/UpdateText.h"

namespace {
constexpr int DefaultTimeLimit = 10'000;
constexpr int IdYes = 6;

int TimeLimit = DefaultTimeLimit;
TUpdateQuestion QuestionHandler = nullptr;
void* QuestionContext = nullptr;

bool IsWebAddress(const QUrl& Url) {
  return Url.isValid() && (Url.scheme() == "http" || Url.scheme() == "https") && !Url.host().isEmpty();
}

// The body of a 200 answer in by Deadline, or nothing. Redirects are not followed.
std::optional<QByteArray> Fetch(const QUrl& Url, const QDeadlineTimer& Deadline) {
  const std::optional<THttpAnswer> Answer = HttpGet(Url, Deadline, MaxUpdateTextBytes);
  if (!Answer || Answer->Status != 200) return std::nullopt;
  return Answer->Body;
}

// The port an address reaches, its scheme's own when it names none.
int EffectivePort(const QUrl& Url) { return Url.port(Url.scheme() == QLatin1String("https") ? 443 : 80); }

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

  // One deadline for the whole exchange, from connecting to the last byte of the text.
  const QDeadlineTimer Deadline(TimeLimit);
  const std::optional<QByteArray> Body = Fetch(InfoUrl, Deadline);
  if (!Body) return;
  const std::optional<TUpdateInfo> Info = ParseUpdateText(std::string_view(Body->constData(), Body->size()));
  const std::optional<TVersion> Current = ParseVersion(QUILLORY_VERSION);
  if (!Info || !Current || !(*Current < Info->Version)) return;

  const QUrl Download(QString::fromStdString(Info->DownloadUrl), QUrl::StrictMode);
  if (!IsWebAddress(Download) || Download.host() != InfoUrl.host() || EffectivePort(Download) != EffectivePort(InfoUrl))
    return;

  QString Text = QCoreApplication::translate("DoUpdate", "发现新版本 %1（当前版本 %2）。")
                     .arg(QString::fromStdString(VersionText(Info->Version)), QStringLiteral(QUILLORY_VERSION));
  if (!Info->Notes.empty()) Text += "\n\n" + QString::fromStdString(Info->Notes);
  Text += "\n\n" + QCoreApplication::translate("DoUpdate", "是否打开下载页面？");
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
