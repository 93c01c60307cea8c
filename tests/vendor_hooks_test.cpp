// The main window's vendor hooks: the banner strip, the home-page button and the update tick.
#include <gtest/gtest.h>

#include <QPushButton>
#include <algorithm>
#include <functional>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <stdexcept>
#include <string>
#include <vector>

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
