// The main window's vendor hooks: the banner strip, the home-page button and the update tick.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QWheelEvent>
#include <algorithm>
#include <functional>
#include <optional>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/LoopbackHttpServer.h"
#include "support/PromptRecorder.h"
#include "support/QtPrinters.h"
#include "support/UrlRecorder.h"
#include "ui/uFrmMain.h"
#include "vendor/TWebBrowseEx.h"
#include "vendor/UpdateCall.h"
#include "vendor/VendorAddresses.h"

namespace {
constexpr int Tick = 20;  // the update timer's interval while testing

struct TUpdateCall {
  void* Owner;
  std::string Url;
};
std::vector<TUpdateCall> Calls;
int Depth = 0;
int DeepestNesting = 0;
std::function<void()> DuringCall;

void RecordingUpdate(void* Owner, const char* Url) {
  Calls.push_back({Owner, Url});
  ++Depth;
  DeepestNesting = std::max(DeepestNesting, Depth);
  struct TLeave {
    ~TLeave() { --Depth; }
  } Leave;
  if (DuringCall) DuringCall();
}

class VendorHooks : public ::testing::Test {
 protected:
  void SetUp() override {
    Calls.clear();
    Depth = DeepestNesting = 0;
    DuringCall = nullptr;
    SetUpdateEntry(RecordingUpdate);
  }
  void TearDown() override {
    SetUpdateEntry(nullptr);
    DuringCall = nullptr;
  }
};

void SetTick(TFrmMain& Form) {
  Form.Timer->setInterval(Tick);
  Form.Timer->start();
}

constexpr int PageTimeout = 30000;

// Points the banner at Url and waits until it has settled on a document that loaded.
bool NavigateAndSettle(TWebBrowseEx* Banner, const QString& Url) {
  QSignalSpy Finished(Banner, &QWebEngineView::loadFinished);
  Banner->Navigate(Url);
  return QTest::qWaitFor([&] { return !Finished.isEmpty() && Finished.last().at(0).toBool(); }, PageTimeout);
}

// What the banner's document shows, and how many of its elements the Tab key could reach.
struct TBannerContent {
  QString Text;
  int Reachable = -1;
};

TBannerContent ContentOf(TWebBrowseEx* Banner) {
  std::optional<QVariantList> Answer;
  Banner->page()->runJavaScript(
      "[document.body ? document.body.innerText : '',"
      " document.querySelectorAll('a[href], area[href], button, input, select, textarea, iframe, summary,"
      " [tabindex], [contenteditable]').length]",
      [&Answer](const QVariant& Result) { Answer = Result.toList(); });
  if (!QTest::qWaitFor([&] { return Answer.has_value(); }, PageTimeout) || Answer->size() != 2) return {};
  return {Answer->at(0).toString().trimmed(), Answer->at(1).toInt()};
}

void TurnWheelOver(QWidget* Widget) {
  for (const int Notches : {-3, 3}) {
    const QPointF At(Widget->width() / 2.0, Widget->height() / 2.0);
    QWheelEvent Wheel(At, Widget->mapToGlobal(At), QPoint(), QPoint(0, 120 * Notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(Widget, &Wheel);
  }
}

// A document with a link, as a vendor's page or a server's error page would have.
THttpResponse PageWithLink(int Status, const std::string& Text) {
  return {Status, "text/html", "<html><body><a href=\"/more\">" + Text + "</a></body></html>"};
}
}  // namespace

TEST_F(VendorHooks, BannerFillsTheStripAndIsPointedAtTheAdPage) {
  TFrmMain Form;
  ASSERT_NE(Form.wbAD, nullptr);
  EXPECT_EQ(Form.wbAD->parentWidget(), Form.pnlAD);
  EXPECT_EQ(Form.wbAD->objectName(), "wbAD");
  EXPECT_EQ(Form.wbAD->DisableCtrlShortcuts, "N");
  EXPECT_TRUE(Form.wbAD->UserInterfaceOptions() ==
              (TUserInterfaceOptions{DontUse3DBorders, DontUseScrollBars, EnableThemes}));
  DOCHOSTUIINFO Info;
  Form.wbAD->GetHostInfo(Info);
  EXPECT_EQ(Info.dwFlags, 0x4010Cu);
  EXPECT_EQ(Form.wbAD->page()->requestedUrl(), QUrl(QString::fromUtf16(AdPageUrl)));

  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  for (const QSize Size : {QSize(TFrmMain::DesignWidth, TFrmMain::DesignHeight), QSize(950, 600), QSize(720, 500)}) {
    Form.resize(Size);
    EXPECT_TRUE(QTest::qWaitFor([&] {
      return Form.width() == Size.width() && Form.wbAD->geometry() == QRect(0, 0, Size.width(), 60);
    })) << Size.width();
    EXPECT_EQ(Form.pnlAD->geometry(), QRect(0, 0, Form.width(), 60));
  }
}

TEST_F(VendorHooks, HomePageButtonOpensThePageOnEveryClick) {
  UrlRecorder Browser("http");
  TFrmMain Form;
  QTest::mouseClick(Form.Button1, Qt::LeftButton);
  QTest::mouseClick(Form.Button1, Qt::LeftButton);
  ASSERT_EQ(Browser.Opened().size(), 2u);
  EXPECT_EQ(Browser.Opened()[0], QUrl(HomePageUrl));
  EXPECT_EQ(Browser.Opened()[1], QUrl(HomePageUrl));
}

namespace {
std::vector<QString> TerminalLines;
void RecordTerminalLine(QtMsgType, const QMessageLogContext&, const QString& Text) { TerminalLines.push_back(Text); }
}  // namespace

TEST_F(VendorHooks, HomePageButtonWithoutABrowserShowsTheErrorReport) {
  PromptRecorder Prompts;
  TFrmMain Form;
  // This platform has no browser to open addresses with.
  TerminalLines.clear();
  const QtMessageHandler Previous = qInstallMessageHandler(&RecordTerminalLine);
  QTest::mouseClick(Form.Button1, Qt::LeftButton);
  qInstallMessageHandler(Previous);
  ASSERT_EQ(Prompts.Shown().size(), 1u);
  EXPECT_EQ(Prompts.Last().Style, static_cast<unsigned>(mbIconError));
  EXPECT_NE(Prompts.Last().Text.find(HomePageUrl), std::string::npos) << Prompts.Last().Text;
  EXPECT_TRUE(TerminalLines.empty()) << TerminalLines.front().toStdString();
}

TEST_F(VendorHooks, FirstTickCallsTheUpdateOnceWithTheWindowAndAddress) {
  TFrmMain Form;
  Form.show();
  SetTick(Form);
  ASSERT_TRUE(QTest::qWaitFor([] { return !Calls.empty(); }));
  EXPECT_FALSE(Form.Timer->isActive());
  QTest::qWait(Tick * 10);
  ASSERT_EQ(Calls.size(), 1u);
  EXPECT_EQ(Calls[0].Owner, reinterpret_cast<void*>(Form.winId()));
  EXPECT_EQ(Calls[0].Url, UpdateInfoUrl);
}

TEST_F(VendorHooks, ClosingBeforeTheFirstTickMeansNoUpdateCall) {
  TFrmMain Form;
  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  SetTick(Form);
  Form.close();
  QTest::qWait(Tick * 10);
  EXPECT_TRUE(Calls.empty());
  EXPECT_FALSE(Form.Timer->isActive());
}

TEST_F(VendorHooks, TicksDuringARunningUpdateStartNoNestedCall) {
  TFrmMain Form;
  Form.show();
  bool TimerActiveDuringCall = false;
  DuringCall = [&] {
    // As an update component with its own event loop would: ticks keep arriving meanwhile.
    TimerActiveDuringCall = Form.Timer->isActive();
    QTest::qWait(Tick * 10);
    Form.TimerTimer();
  };
  SetTick(Form);
  ASSERT_TRUE(QTest::qWaitFor([] { return !Calls.empty() && Depth == 0; }));
  QTest::qWait(Tick * 5);
  EXPECT_EQ(Calls.size(), 1u);
  EXPECT_EQ(DeepestNesting, 1);
  EXPECT_TRUE(TimerActiveDuringCall);
  EXPECT_FALSE(Form.Timer->isActive());
}

TEST_F(VendorHooks, AnUpdateErrorIsReportedAndTheTimerStaysOn) {
  PromptRecorder Prompts;
  TFrmMain Form;
  Form.show();
  DuringCall = [] {
    if (Calls.size() == 1) throw std::runtime_error("Update component failed");
  };
  SetTick(Form);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Calls.size() == 2; }));
  ASSERT_EQ(Prompts.Shown().size(), 1u);
  EXPECT_EQ(Prompts.Last().Text, "Update component failed.");
  EXPECT_EQ(Prompts.Last().Style, unsigned{mbIconError});
  // The second call returned normally, so the timer is off for good now.
  EXPECT_FALSE(Form.Timer->isActive());
  QTest::qWait(Tick * 5);
  EXPECT_EQ(Calls.size(), 2u);
}

TEST_F(VendorHooks, BannerThatCannotLoadStaysBlankUntilALaterLoadWorks) {
  LoopbackHttpServer Vendor([](const THttpRequest& Request) -> std::optional<THttpResponse> {
    if (Request.Target == "/ad.html") return PageWithLink(200, "Vendor news");
    if (Request.Target == "/never.html") return std::nullopt;
    return PageWithLink(404, "Not Found");
  });
  TFrmMain Form;
  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));

  // Nothing listens on the discard port; then a server answering with error pages of its own.
  const QString Failing[] = {"http://127.0.0.1:9/ad.html", QString::fromStdString(Vendor.Url("/missing.html"))};
  for (const QString& Url : Failing) {
    ASSERT_TRUE(NavigateAndSettle(Form.wbAD, Url)) << Url.toStdString();
    // The engine's drawing surface changes with the page, so it is looked up each time.
    TurnWheelOver(Form.wbAD->focusProxy() ? Form.wbAD->focusProxy() : Form.wbAD);
    const TBannerContent Content = ContentOf(Form.wbAD);
    EXPECT_EQ(Content.Text.toStdString(), "") << Url.toStdString();
    EXPECT_EQ(Content.Reachable, 0) << Url.toStdString();
  }

  // A load given up for a newer one is no failure of the page shown.
  Form.wbAD->Navigate(QString::fromStdString(Vendor.Url("/never.html")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Vendor.RequestCount() == 3; }, PageTimeout));
  ASSERT_TRUE(NavigateAndSettle(Form.wbAD, QString::fromStdString(Vendor.Url("/ad.html"))));
  QTest::qWait(200);  // a late reaction to the abandoned load would come now
  const TBannerContent Shown = ContentOf(Form.wbAD);
  EXPECT_EQ(Shown.Text.toStdString(), "Vendor news");
  EXPECT_EQ(Shown.Reachable, 1);
}
