// The browser host: its option flags, host-info record, answers without handlers, the masked
// shortcut rules, and what its answers change on a real engine loading real pages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QWebEngineSettings>
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "support/LoopbackHttpServer.h"
#include "support/QtPrinters.h"
#include "support/UrlRecorder.h"
#include "vendor/TWebBrowseEx.h"

namespace {
constexpr int PageTimeout = 30000;

const TUserInterfaceOptions BannerOptions{DontUse3DBorders, DontUseScrollBars, EnableThemes};

bool WaitForLoad(QSignalSpy& Finished) {
  return Finished.count() > 0 || Finished.wait(PageTimeout);
}

THttpResponse Page(const std::string& Title) {
  return {200, "text/html", "<html><head><title>" + Title + "</title></head><body>" + Title + "</body></html>"};
}

// The key states IsMaskedShortcut reads, by virtual key; keys not listed are up.
TKeyStateReader KeysDown(std::map<int, bool> Down) {
  return [Down](int Key) -> std::int16_t {
    const auto Found = Down.find(Key);
    return Found != Down.end() && Found->second ? static_cast<std::int16_t>(-32768) : 0;
  };
}
}  // namespace

TEST(UserInterfaceOptions, FlagValuesSkip0x8000AndAreDistinctBits) {
  std::uint32_t All = 0;
  for (int K = 0; K < UserInterfaceOptionCount; ++K) {
    const std::uint32_t Flag = HostFlagOf(static_cast<TUserInterfaceOption>(K));
    EXPECT_EQ(Flag & (Flag - 1), 0u) << K;
    EXPECT_EQ(All & Flag, 0u) << K;
    All |= Flag;
  }
  EXPECT_EQ(All, 0x3FFF7FFFu);
  EXPECT_EQ(HostFlagOf(EnablesFormsAutoComplete), 0x4000u);
  EXPECT_EQ(HostFlagOf(ForceSameWindowNavigation), 0x10000u);
  EXPECT_EQ(HostFlagOf(EnableThemes), 0x40000u);
  EXPECT_EQ(HostFlagOf(ForceUserActivationOnActiveXJava), 0x20000000u);

  TUserInterfaceOptions Every;
  for (int K = 0; K < UserInterfaceOptionCount; ++K) Every.Include(static_cast<TUserInterfaceOption>(K));
  EXPECT_EQ(HostFlagsOf(Every), 0x3FFF7FFFu);
  EXPECT_EQ(HostFlagsOf({}), 0u);
}

TEST(WebBrowseEx, BannerHostInfoRecord) {
  TWebBrowseEx Browser;
  Browser.SetUserInterfaceOptions(BannerOptions);
  DOCHOSTUIINFO Info;
  std::memset(&Info, 0xA5, sizeof Info);
  EXPECT_EQ(Browser.GetHostInfo(Info), S_OK);
  EXPECT_EQ(Info.cbSize, 20u);
  EXPECT_EQ(Info.dwFlags, 0x4010Cu);
  EXPECT_EQ(Info.dwDoubleClick, 0u);
  EXPECT_EQ(Info.pchHostCss, 0u);
  EXPECT_EQ(Info.pchHostNS, 0u);
  EXPECT_EQ(Browser.HostFlags(), 0x4000Cu);
}

TEST(WebBrowseEx, EnterModeAndDivOptionEachGive0x100) {
  TWebBrowseEx Browser;
  DOCHOSTUIINFO Info;
  Browser.GetHostInfo(Info);
  EXPECT_EQ(Browser.HostFlags(), 0u);
  EXPECT_EQ(Info.dwFlags, 0x100u);

  Browser.EnterModeOnEdit = emFlagP;
  Browser.GetHostInfo(Info);
  EXPECT_EQ(Info.dwFlags, 0u);

  Browser.SetUserInterfaceOptions({InsertDivTagOnEditMode});
  Browser.GetHostInfo(Info);
  EXPECT_EQ(Info.dwFlags, 0x100u);
}

TEST(WebBrowseEx, HostInfoHandlerMayChangeTheRecord) {
  TWebBrowseEx Browser;
  bool FilledBeforeHandler = false;
  Browser.OnGetHostInfo = [&](TWebBrowseEx*, DOCHOSTUIINFO& Info) {
    FilledBeforeHandler = Info.cbSize == 20 && Info.dwFlags == 0x100;
    Info.dwFlags |= 0x4;
  };
  DOCHOSTUIINFO Info;
  EXPECT_EQ(Browser.GetHostInfo(Info), S_OK);
  EXPECT_TRUE(FilledBeforeHandler);
  EXPECT_EQ(Info.dwFlags, 0x104u);
}

TEST(WebBrowseEx, AssigningOptionsRecomputesFromZeroAndNotifiesEveryTime) {
  TWebBrowseEx Browser;
  QSignalSpy Notified(&Browser, &TWebBrowseEx::AmbientPropertyChanged);
  Browser.SetUserInterfaceOptions(BannerOptions);
  Browser.SetUserInterfaceOptions(BannerOptions);
  EXPECT_EQ(Browser.HostFlags(), 0x4000Cu);
  ASSERT_EQ(Notified.count(), 2);
  EXPECT_EQ(Notified.at(0).at(0).toInt(), DISPID_AMBIENT_DLCONTROL);
  EXPECT_EQ(Notified.at(1).at(0).toInt(), -5512);

  Browser.SetUserInterfaceOptions({EnableThemes});
  EXPECT_EQ(Browser.HostFlags(), 0x40000u);
  Browser.SetUserInterfaceOptions({});
  EXPECT_EQ(Browser.HostFlags(), 0u);
  EXPECT_EQ(Notified.count(), 4);
}

TEST(WebBrowseEx, OptionsDecideScrollBarsAndBorder) {
  TWebBrowseEx Browser;
  EXPECT_TRUE(Browser.settings()->testAttribute(QWebEngineSettings::ShowScrollBars));
  EXPECT_EQ(Browser.contentsMargins(), QMargins(2, 2, 2, 2));

  Browser.SetUserInterfaceOptions(BannerOptions);
  EXPECT_FALSE(Browser.settings()->testAttribute(QWebEngineSettings::ShowScrollBars));
  EXPECT_EQ(Browser.contentsMargins(), QMargins());

  Browser.SetUserInterfaceOptions({DontUseScrollBars});
  EXPECT_FALSE(Browser.settings()->testAttribute(QWebEngineSettings::ShowScrollBars));
  EXPECT_EQ(Browser.contentsMargins(), QMargins(2, 2, 2, 2));
}

TEST(WebBrowseEx, AnswersWithoutHandlers) {
  TWebBrowseEx Browser;
  QObject Anything;
  EXPECT_EQ(Browser.ShowContextMenu(CONTEXT_MENU_DEFAULT, {1, 1}, nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(static_cast<std::uint32_t>(E_NOTIMPL), 0x80004001u);
  EXPECT_EQ(Browser.ShowUI(DOCHOSTUITYPE_BROWSE, nullptr, nullptr, nullptr, nullptr), S_FALSE);
  EXPECT_EQ(Browser.HideUI(), S_FALSE);
  EXPECT_EQ(Browser.UpdateUI(), S_FALSE);
  EXPECT_EQ(Browser.EnableModeless(true), S_OK);
  EXPECT_EQ(Browser.OnDocWindowActivate(true), S_OK);
  EXPECT_EQ(Browser.OnFrameWindowActivate(false), S_OK);
  EXPECT_EQ(Browser.ResizeBorder({0, 0, 10, 10}, nullptr, true), S_OK);
  EXPECT_EQ(Browser.TranslateAccelerator({WM_KEYDOWN, 'N', 0}, nullptr, 0), S_FALSE);

  QString Key = "left over";
  EXPECT_EQ(Browser.GetOptionKeyPath(Key, 0), S_FALSE);
  EXPECT_TRUE(Key.isNull());

  QObject* Target = &Anything;
  EXPECT_EQ(Browser.GetDropTarget(&Anything, Target), S_OK);
  EXPECT_EQ(Target, nullptr);

  QObject* External = &Anything;
  EXPECT_EQ(Browser.GetExternal(External), S_FALSE);
  EXPECT_EQ(External, nullptr);

  char16_t Sentinel[] = u"x";
  char16_t* Out = Sentinel;
  EXPECT_EQ(Browser.TranslateUrl(0, "http://a.example/", &Out), S_FALSE);
  EXPECT_EQ(Out, nullptr);

  QMimeData Data;
  auto Replacement = std::make_unique<QMimeData>();
  EXPECT_EQ(Browser.FilterDataObject(&Data, Replacement), S_FALSE);
  EXPECT_EQ(Replacement, nullptr);

  int Result = 0;
  EXPECT_EQ(Browser.ShowMessage(&Browser, "text", "caption", MB_OK, {}, 0, Result), S_FALSE);
  EXPECT_EQ(Browser.ShowHelp(&Browser, {}, 0, 0, {}, nullptr), S_FALSE);
}

TEST(WebBrowseEx, HandlersDecideTheAnswers) {
  TWebBrowseEx Browser;
  QObject Replacement;

  HRESULT SeenResult = S_OK;
  Browser.OnShowContextMenu = [&](TWebBrowseEx*, std::uint32_t, QPoint, QObject*, QObject*, HRESULT& Result) {
    SeenResult = Result;
    Result = S_OK;
  };
  EXPECT_EQ(Browser.ShowContextMenu(CONTEXT_MENU_DEFAULT, {}, nullptr, nullptr), S_OK);
  EXPECT_EQ(SeenResult, E_NOTIMPL);

  Browser.OnShowUI = [&](TWebBrowseEx*, std::uint32_t, QObject*, QObject*, QObject*, QObject*, HRESULT& Result) {
    SeenResult = Result;
    Result = S_OK;
  };
  EXPECT_EQ(Browser.ShowUI(DOCHOSTUITYPE_BROWSE, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(SeenResult, S_FALSE);

  bool SeenDone = true;
  Browser.OnTranslateAccelerator = [&](TWebBrowseEx*, const TKeyMessage& Message, const QUuid*, std::uint32_t,
                                       bool& Done) {
    SeenDone = Done;
    Done = Message.WParam == 'P';
  };
  EXPECT_EQ(Browser.TranslateAccelerator({WM_KEYDOWN, 'N', 0}, nullptr, 0), S_FALSE);
  EXPECT_FALSE(SeenDone);
  EXPECT_EQ(Browser.TranslateAccelerator({WM_KEYDOWN, 'P', 0}, nullptr, 0), S_OK);

  // A handler's drop target changes nothing about the answer.
  Browser.OnGetDropTarget = [&](TWebBrowseEx*, QObject*& Target) { Target = &Replacement; };
  QObject* Target = nullptr;
  EXPECT_EQ(Browser.GetDropTarget(nullptr, Target), S_OK);
  EXPECT_EQ(Target, &Replacement);

  Browser.OnShowMessage = [](TWebBrowseEx*, QWidget*, const QString& Text, const QString&, std::uint32_t,
                             const QString&, std::uint32_t, int& Result) -> HRESULT {
    Result = IDCANCEL;
    return Text == "handled" ? S_OK : E_NOTIMPL;
  };
  int Result = 0;
  EXPECT_EQ(Browser.ShowMessage(nullptr, "handled", {}, MB_OK, {}, 0, Result), S_OK);
  EXPECT_EQ(Result, IDCANCEL);
  EXPECT_EQ(Browser.ShowMessage(nullptr, "other", {}, MB_OK, {}, 0, Result), E_NOTIMPL);
}

TEST(WebBrowseEx, TranslateUrlCopiesANonEmptyAnswerIntoTaskMemory) {
  TWebBrowseEx Browser;
  QString Seen;
  Browser.OnTranslateUrl = [&](TWebBrowseEx*, std::uint32_t, const QString& In, QString& Out) {
    Seen = In;
    EXPECT_TRUE(Out.isEmpty());
    if (In.endsWith("/old")) Out = QString::fromUtf8("http://b.example/新");
  };

  char16_t* Out = nullptr;
  EXPECT_EQ(Browser.TranslateUrl(0, "http://a.example/keep", &Out), S_FALSE);
  EXPECT_EQ(Out, nullptr);
  EXPECT_EQ(Seen, "http://a.example/keep");

  ASSERT_EQ(Browser.TranslateUrl(0, "http://a.example/old", &Out), S_OK);
  ASSERT_NE(Out, nullptr);
  EXPECT_EQ(QString::fromUtf16(Out), QString::fromUtf8("http://b.example/新"));
  EXPECT_EQ(Out[18], u'\0');
  TaskMemFree(Out);
}

TEST(WebBrowseEx, HelpFileOpensOnlyWhenTheBrowserNamesNone) {
  UrlRecorder Opened("file");
  TWebBrowseEx Browser;
  EXPECT_EQ(Browser.ShowHelp(&Browser, {}, 0, 0, {}, nullptr), S_FALSE);
  Browser.HelpFile = "/usr/share/doc/quillory/help.chm";
  EXPECT_EQ(Browser.ShowHelp(&Browser, "/other.chm", 0, 0, {}, nullptr), S_FALSE);
  EXPECT_TRUE(Opened.Opened().empty());
  EXPECT_EQ(Browser.ShowHelp(&Browser, {}, 0, 0, {}, nullptr), S_OK);
  ASSERT_EQ(Opened.Opened().size(), 1u);
  EXPECT_EQ(Opened.Opened()[0], QUrl::fromLocalFile("/usr/share/doc/quillory/help.chm"));

  Browser.OnShowHelp = [](TWebBrowseEx*, QWidget*, const QString&, std::uint32_t, std::uint32_t, QPoint,
                          QObject*) -> HRESULT { return E_NOTIMPL; };
  EXPECT_EQ(Browser.ShowHelp(&Browser, {}, 0, 0, {}, nullptr), E_NOTIMPL);
  EXPECT_EQ(Opened.Opened().size(), 1u);
}

TEST(WebBrowseEx, MaskedShortcutRules) {
  struct TCase {
    const char* What;
    std::map<int, bool> Down;
    TKeyMessage Message;
    bool Masked;
  };
  const TCase Cases[] = {
      {"left Ctrl+N", {{VK_LCONTROL, true}}, {WM_KEYDOWN, 'N', 0}, true},
      {"high bits of wParam ignored", {{VK_LCONTROL, true}}, {WM_KEYDOWN, 0x1234'5600 + 'N', 0}, true},
      {"right Ctrl+N", {{VK_RCONTROL, true}}, {WM_KEYDOWN, 'N', 0}, true},
      {"right Ctrl with right Alt", {{VK_RCONTROL, true}, {VK_MENU, true}}, {WM_KEYDOWN, 'N', 0}, true},
      {"left Ctrl with any Alt", {{VK_LCONTROL, true}, {VK_MENU, true}}, {WM_KEYDOWN, 'N', 0}, false},
      {"right Ctrl with left Alt", {{VK_RCONTROL, true}, {VK_LMENU, true}, {VK_MENU, true}}, {WM_KEYDOWN, 'N', 0},
       false},
      {"no Ctrl", {}, {WM_KEYDOWN, 'N', 0}, false},
      {"system key-down", {{VK_LCONTROL, true}}, {WM_SYSKEYDOWN, 'N', 0}, false},
      {"key-up", {{VK_LCONTROL, true}}, {0x0101, 'N', 0}, false},
      {"lower-case byte", {{VK_LCONTROL, true}}, {WM_KEYDOWN, 'n', 0}, false},
      {"key not listed", {{VK_LCONTROL, true}}, {WM_KEYDOWN, 'P', 0}, false},
  };
  for (const TCase& Case : Cases) {
    TWebBrowseEx Browser;
    Browser.KeyState = KeysDown(Case.Down);
    std::string Raised;
    Browser.OnMaskedCtrlChar = [&](TWebBrowseEx* Sender, char Key) {
      EXPECT_EQ(Sender, &Browser);
      Raised += Key;
    };
    EXPECT_EQ(Browser.IsMaskedShortcut(Case.Message), Case.Masked) << Case.What;
    EXPECT_EQ(Raised, Case.Masked ? "N" : "") << Case.What;
  }

  TWebBrowseEx Browser;
  Browser.KeyState = KeysDown({{VK_LCONTROL, true}});
  Browser.DisableCtrlShortcuts = "";
  EXPECT_FALSE(Browser.IsMaskedShortcut({WM_KEYDOWN, 'N', 0}));
  Browser.DisableCtrlShortcuts = "NP4";
  EXPECT_TRUE(Browser.IsMaskedShortcut({WM_KEYDOWN, 'P', 0}));
  EXPECT_TRUE(Browser.IsMaskedShortcut({WM_KEYDOWN, '4', 0}));
}

TEST(WebBrowseEx, NavigateRejectsAnAddressThatCannotBeOpened) {
  TWebBrowseEx Browser;
  EXPECT_THROW(Browser.Navigate(""), std::runtime_error);
  EXPECT_THROW(Browser.Navigate("no scheme here"), std::runtime_error);
  EXPECT_THROW(Browser.Navigate("http://[broken/"), std::runtime_error);
  EXPECT_NO_THROW(Browser.Navigate("about:blank"));
}

TEST(WebBrowseEx, LoadsAPageFromALoopbackServer) {
  LoopbackHttpServer Server([](const THttpRequest& Request) -> std::optional<THttpResponse> {
    if (Request.Target == "/ad/page.html") return Page("Banner page");
    return THttpResponse{404, "text/plain", "missing"};
  });
  TWebBrowseEx Browser;
  Browser.SetUserInterfaceOptions(BannerOptions);
  QSignalSpy Finished(&Browser, &QWebEngineView::loadFinished);
  Browser.Navigate(QString::fromStdString(Server.Url("/ad/page.html")));
  ASSERT_TRUE(WaitForLoad(Finished));
  EXPECT_TRUE(Finished.at(0).at(0).toBool());
  EXPECT_GE(Server.RequestCount(), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Browser.title() == "Banner page"; }, PageTimeout));
}

TEST(WebBrowseEx, TranslatedAddressIsLoadedInstead) {
  std::vector<std::string> Targets;
  std::mutex Lock;
  LoopbackHttpServer Server([&](const THttpRequest& Request) -> std::optional<THttpResponse> {
    const std::lock_guard<std::mutex> Guard(Lock);
    Targets.push_back(Request.Target);
    return Page(Request.Target == "/new.html" ? "New" : "Old");
  });
  TWebBrowseEx Browser;
  const QString NewUrl = QString::fromStdString(Server.Url("/new.html"));
  Browser.OnTranslateUrl = [&](TWebBrowseEx*, std::uint32_t, const QString& In, QString& Out) {
    if (In.endsWith("/old.html")) Out = NewUrl;
  };
  Browser.Navigate(QString::fromStdString(Server.Url("/old.html")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Browser.title() == "New"; }, PageTimeout));
  EXPECT_EQ(Browser.url(), QUrl(NewUrl));
  const std::lock_guard<std::mutex> Guard(Lock);
  EXPECT_EQ(std::count(Targets.begin(), Targets.end(), "/old.html"), 0);
}

TEST(WebBrowseEx, PageAlertsGoToShowMessage) {
  TWebBrowseEx Browser;
  std::vector<std::pair<QString, std::uint32_t>> Shown;
  std::vector<bool> Modeless;
  Browser.OnEnableModeless = [&](TWebBrowseEx*, bool Enable) { Modeless.push_back(Enable); };
  Browser.OnShowMessage = [&](TWebBrowseEx*, QWidget*, const QString& Text, const QString&, std::uint32_t Type,
                              const QString&, std::uint32_t, int& Result) -> HRESULT {
    Shown.emplace_back(Text, Type);
    Result = IDOK;
    return S_OK;
  };
  Browser.setHtml("<script>alert('hello'); document.title = confirm('sure?') ? 'yes' : 'no';</script>");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Browser.title() == "yes"; }, PageTimeout));
  ASSERT_EQ(Shown.size(), 2u);
  EXPECT_EQ(Shown[0].first, "hello");
  EXPECT_EQ(Shown[0].second, MB_OK | MB_ICONWARNING);
  EXPECT_EQ(Shown[1].first, "sure?");
  EXPECT_EQ(Shown[1].second, MB_OKCANCEL | MB_ICONQUESTION);
  EXPECT_EQ(Modeless, (std::vector<bool>{false, true, false, true}));
}

TEST(WebBrowseEx, DocumentHtmlReplacesThePageAtAnySize) {
  TWebBrowseEx Browser;
  Browser.SetDocumentHtml("<title>Small</title><p>x</p>");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Browser.title() == "Small"; }, PageTimeout));

  // Beyond what an inline address may carry.
  const QString Large = "<title>Large</title><p>" + QString(2'500'000, QChar('y')) + "</p>";
  Browser.SetDocumentHtml(Large);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Browser.title() == "Large"; }, PageTimeout));
  QVariant Length;
  bool Done = false;
  Browser.page()->runJavaScript("document.body.textContent.length", [&](const QVariant& Value) {
    Length = Value;
    Done = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return Done; }, PageTimeout));
  EXPECT_EQ(Length.toInt(), 2'500'000);
}

TEST(WebBrowseEx, ReplacementDropTargetReceivesTheDrag) {
  struct TDropRecorder : QObject {
    std::vector<QEvent::Type> Types;
    bool event(QEvent* Event) override {
      Types.push_back(Event->type());
      Event->accept();
      return true;
    }
  } Recorder;
  TWebBrowseEx Browser;
  int Asked = 0;
  Browser.OnGetDropTarget = [&](TWebBrowseEx*, QObject*& Target) {
    ++Asked;
    Target = &Recorder;
  };
  QMimeData Data;
  Data.setText("dropped");
  QDragEnterEvent Enter({5, 5}, Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&Browser, &Enter);
  QDragMoveEvent Move({6, 6}, Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&Browser, &Move);
  QDropEvent Drop(QPointF(6, 6), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&Browser, &Drop);
  EXPECT_EQ(Asked, 1);
  EXPECT_EQ(Recorder.Types, (std::vector<QEvent::Type>{QEvent::DragEnter, QEvent::DragMove, QEvent::Drop}));
}

TEST(WebBrowseEx, RightClickShowsTheEnginesMenuUnlessTheHostAnswersSOk) {
  LoopbackHttpServer Server([](const THttpRequest&) -> std::optional<THttpResponse> { return Page("Menu"); });
  TWebBrowseEx Browser;
  Browser.resize(300, 120);
  Browser.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Browser));
  QSignalSpy Finished(&Browser, &QWebEngineView::loadFinished);
  Browser.Navigate(QString::fromStdString(Server.Url("/menu.html")));
  ASSERT_TRUE(WaitForLoad(Finished));

  // The page takes input only once its first frame is up, which loadFinished does not wait for.
  const auto RightClickUntil = [&](const std::function<bool()>& Done) {
    for (int Attempt = 0; Attempt < 30; ++Attempt) {
      QWidget* Surface = Browser.focusProxy() ? Browser.focusProxy() : &Browser;
      QTest::mouseClick(Surface, Qt::RightButton, Qt::NoModifier, QPoint(40, 40));
      if (QTest::qWaitFor(Done, 1000)) return true;
    }
    return false;
  };
  const auto EngineMenu = [] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); };

  int Asked = 0;
  Browser.OnShowContextMenu = [&](TWebBrowseEx*, std::uint32_t MenuId, QPoint, QObject*, QObject*, HRESULT& Result) {
    ++Asked;
    EXPECT_EQ(MenuId, CONTEXT_MENU_DEFAULT);
    Result = S_OK;
  };
  ASSERT_TRUE(RightClickUntil([&] { return Asked > 0; }));
  QTest::qWait(200);
  EXPECT_EQ(EngineMenu(), nullptr);

  Browser.OnShowContextMenu = nullptr;
  ASSERT_TRUE(RightClickUntil([&] { return EngineMenu() != nullptr; }));
  EngineMenu()->close();
}

TEST(WebBrowseEx, KeysTheHostTranslatesNeverReachThePage) {
  TWebBrowseEx Browser;
  Browser.resize(300, 120);
  int ShownUI = 0;
  Browser.OnShowUI = [&](TWebBrowseEx*, std::uint32_t, QObject*, QObject*, QObject*, QObject*, HRESULT&) {
    ++ShownUI;
  };
  std::vector<TKeyMessage> Offered;
  Browser.OnTranslateAccelerator = [&](TWebBrowseEx*, const TKeyMessage& Message, const QUuid*, std::uint32_t,
                                       bool& Done) {
    Offered.push_back(Message);
    Done = Message.WParam == 'P';
  };
  QSignalSpy Finished(&Browser, &QWebEngineView::loadFinished);
  Browser.setHtml("<title>:</title><script>document.addEventListener('keydown', "
                  "function (e) { document.title += e.key; });</script><body></body>");
  ASSERT_TRUE(WaitForLoad(Finished));
  Browser.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Browser));
  Browser.setFocus();
  ASSERT_TRUE(QTest::qWaitFor([&] { return ShownUI > 0; }));
  QWidget* Surface = QApplication::focusWidget();
  ASSERT_NE(Surface, nullptr);
  // Keys typed before the page's first frame may be lost on the engine's side, so type again
  // until one arrives.
  bool Arrived = false;
  for (int Attempt = 0; Attempt < 30 && !Arrived; ++Attempt) {
    QTest::keyClick(Surface, Qt::Key_P);
    QTest::keyClick(Surface, Qt::Key_Q);
    Arrived = QTest::qWaitFor([&] { return Browser.title().contains('q'); }, 1000);
  }
  ASSERT_TRUE(Arrived);
  EXPECT_FALSE(Browser.title().contains('p')) << Browser.title().toStdString();
  ASSERT_GE(Offered.size(), 2u);
  EXPECT_EQ(Offered[0].Message, WM_KEYDOWN);
  EXPECT_EQ(Offered[0].WParam, std::uintptr_t{'P'});
  EXPECT_EQ(Offered[1].WParam, std::uintptr_t{'Q'});
}
