// The banner, the vendor's home page and the update call.
#include <QDesktopServices>
#include <QEvent>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineSettings>

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

void TFrmMain::Button1Click() { QDesktopServices::openUrl(QUrl(QString::fromUtf8(HomePageUrl))); }

void TFrmMain::TimerTimer() {
  // The update component may run an event loop of its own, in which further ticks arrive.
  if (FUpdateRunning) return;
  FUpdateRunning = true;
  const TFlagReset Reset(FUpdateRunning);
  CallUpdate(reinterpret_cast<void*>(winId()), UpdateInfoUrl);
  Timer->stop();
}
