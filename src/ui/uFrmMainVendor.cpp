// The banner, the vendor's home page and the update call.
#include <QDesktopServices>
#include <QEvent>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineSettings>

#include <atomic>

#include "ui/ErrorReport.h"
#include "ui/uFrmMain.h"
#include "vendor/TWebBrowseEx.h"
#include "vendor/UpdateCall.h"
#include "vendor/VendorAddresses.h"

namespace {
// Closing the window ends the run, so an update call still waiting for its tick never comes.
class TStopTimerOnClose : public QObject {
 public:
  TStopTimerOnClose(QTimer* Timer, QObject* Parent) : QObject(Parent), Timer(Timer) {}

 protected:
  bool eventFilter(QObject*, QEvent* Event) override {
    if (Event->type() == QEvent::Hide && !Event->spontaneous()) Timer->stop();
    return false;
  }

 private:
  QTimer* Timer;
};

// Keeps Qt's messages from this thread off the terminal while it lives; other threads' messages
// go on as before.
class TSilentMessages {
 public:
  TSilentMessages() {
    Active = true;
    Previous = qInstallMessageHandler(&Drop);
  }
  ~TSilentMessages() {
    qInstallMessageHandler(Previous);
    Active = false;
  }
  TSilentMessages(const TSilentMessages&) = delete;
  TSilentMessages& operator=(const TSilentMessages&) = delete;

 private:
  static void Drop(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
    if (const QtMessageHandler Next = Previous.load(); !Active && Next != nullptr) Next(Type, Context, Text);
  }
  static thread_local bool Active;
  static inline std::atomic<QtMessageHandler> Previous{nullptr};
};
thread_local bool TSilentMessages::Active = false;

// Clears a flag when the scope is left, also by an exception.
class TFlagReset {
 public:
  explicit TFlagReset(bool& Flag) : Flag(Flag) {}
  ~TFlagReset() { Flag = false; }
  TFlagReset(const TFlagReset&) = delete;
  TFlagReset& operator=(const TFlagReset&) = delete;

 private:
  bool& Flag;
};
}  // namespace

void TFrmMain::CreateBanner() {
  wbAD = new TWebBrowseEx(pnlAD);
  wbAD->setObjectName("wbAD");
  auto* Fill = new QVBoxLayout(pnlAD);
  Fill->setContentsMargins(0, 0, 0, 0);
  Fill->addWidget(wbAD);
  wbAD->SetUserInterfaceOptions({DontUse3DBorders, DontUseScrollBars, EnableThemes});
  // A banner whose page cannot be had stays empty: never the engine's error page with its
  // links and buttons, never a server's error text.
  wbAD->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
  connect(wbAD->page(), &QWebEnginePage::loadingChanged, this, &TFrmMain::wbADLoadingChanged);
  installEventFilter(new TStopTimerOnClose(Timer, this));
}

void TFrmMain::wbADLoadingChanged(const QWebEngineLoadingInfo& Loading) {
  if (Loading.status() == QWebEngineLoadingInfo::LoadFailedStatus) wbAD->SetDocumentHtml(QString());
}

void TFrmMain::Button1Click() {
  const QString Home = QString::fromUtf8(HomePageUrl);
  bool Opened = false;
  {
    // Without a browser Qt says so on the terminal; the person at the window is told instead.
    const TSilentMessages Silent;
    Opened = QDesktopServices::openUrl(QUrl(Home));
  }
  if (!Opened) ShowErrorReport(tr("没有找到可以打开网页的浏览器：%1").arg(Home).toStdString());
}

void TFrmMain::TimerTimer() {
  // The update component may run an event loop of its own, in which further ticks arrive.
  if (FUpdateRunning) return;
  FUpdateRunning = true;
  const TFlagReset Reset(FUpdateRunning);
  CallUpdate(reinterpret_cast<void*>(winId()), UpdateInfoUrl);
  Timer->stop();
}
