#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "ui/TFileListView.h"
#include "support/Process.h"
#include "support/PromptRecorder.h"
#include "support/QtPrinters.h"
#include "support/ScopedEnvironment.h"
#include "ui/FileDialogs.h"
#include "ui/uFrmMain.h"

namespace {
struct TExpectedPlace {
  const char* Name;
  QRect AtDesignSize;
  QRect Widened;   // after the window grew 100 wider
  QRect Taller;    // after the window grew 50 taller
};

QWidget* Find(TFrmMain& Form, const char* Name) {
  auto* Widget = Form.findChild<QWidget*>(Name);
  EXPECT_NE(Widget, nullptr) << Name;
  return Widget;
}

class MainWindow : public ::testing::Test {
 protected:
  // A top-level window learns its new size from the platform through the event loop.
  void ResizeAndWait(int Width, int Height) {
    Form.resize(Width, Height);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form.gbInfo->width() == Width - 42 && Form.gbFiles->height() == Height - 263; }));
  }

  PromptRecorder Prompts;
  TFrmMain Form;
};
}  // namespace

TEST_F(MainWindow, ClientAreaCaptionAndFont) {
  EXPECT_EQ(Form.size(), QSize(699, 482));
  EXPECT_EQ(Form.windowTitle(), "Quillory");
  EXPECT_EQ(Form.font().pixelSize(), 12);
  EXPECT_EQ(Form.font().families().front(), "SimSun");
}

TEST_F(MainWindow, ControlsFollowTheirAnchors) {
  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  const TExpectedPlace Places[] = {
      {"btnAddSign", {394, 447, 89, 27}, {494, 447, 89, 27}, {394, 497, 89, 27}},
      {"gbInfo", {21, 72, 657, 139}, {21, 72, 757, 139}, {21, 72, 657, 139}},
      {"gbFiles", {21, 221, 657, 219}, {21, 221, 757, 219}, {21, 221, 657, 269}},
      {"btnDelSign", {296, 447, 89, 27}, {396, 447, 89, 27}, {296, 497, 89, 27}},
      {"btnExit", {592, 447, 89, 27}, {692, 447, 89, 27}, {592, 497, 89, 27}},
      {"pnlAD", {0, 0, 699, 60}, {0, 0, 799, 60}, {0, 0, 699, 60}},
      {"Button1", {493, 447, 89, 27}, {593, 447, 89, 27}, {493, 497, 89, 27}},
      {"cbFile", {78, 25, 329, 20}, {78, 25, 429, 20}, {78, 25, 329, 20}},
      {"edtPwd", {527, 24, 113, 22}, {627, 24, 113, 22}, {527, 24, 113, 22}},
      {"cbTimeStamp", {78, 52, 562, 20}, {78, 52, 662, 20}, {78, 52, 562, 20}},
      {"cbDescription", {78, 79, 562, 20}, {78, 79, 662, 20}, {78, 79, 562, 20}},
      {"cbURL", {78, 107, 562, 20}, {78, 107, 662, 20}, {78, 107, 562, 20}},
      {"btnSignFile", {414, 24, 24, 22}, {514, 24, 24, 22}, {414, 24, 24, 22}},
      {"vstFiles", {17, 26, 622, 179}, {17, 26, 722, 179}, {17, 26, 622, 229}},
  };
  for (const auto& Place : Places) EXPECT_EQ(Find(Form, Place.Name)->geometry(), Place.AtDesignSize) << Place.Name;
  EXPECT_EQ(Form.Label2->x(), 469);

  ResizeAndWait(799, 482);
  for (const auto& Place : Places) EXPECT_EQ(Find(Form, Place.Name)->geometry(), Place.Widened) << Place.Name;
  EXPECT_EQ(Form.Label2->x(), 469 + 100) << "the password label follows the right edge";
  EXPECT_EQ(Form.Label6->x(), 17);

  ResizeAndWait(699, 532);
  for (const auto& Place : Places) EXPECT_EQ(Find(Form, Place.Name)->geometry(), Place.Taller) << Place.Name;
}

TEST_F(MainWindow, TheMessageColumnStretchesWithTheWindow) {
  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  const QHeaderView* Header = Form.vstFiles->header();
  EXPECT_EQ(Header->sectionSize(0), 350);
  EXPECT_EQ(Header->sectionSize(1), 240);
  ResizeAndWait(899, 482);
  EXPECT_EQ(Header->sectionSize(0), 350);
  EXPECT_EQ(Header->sectionSize(1), 440);
  // A path column the user widened keeps its width; the messages take what is left.
  Form.vstFiles->header()->resizeSection(0, 400);
  ResizeAndWait(949, 482);
  EXPECT_EQ(Header->sectionSize(0), 400);
  EXPECT_EQ(Header->sectionSize(1), 440);
  // Narrower again, never below the design width.
  ResizeAndWait(699, 482);
  EXPECT_EQ(Header->sectionSize(1), 240);
}

TEST_F(MainWindow, CaptionsAndTags) {
  EXPECT_EQ(Form.btnAddSign->text(), "开始签名(&S)");
  EXPECT_EQ(Form.btnDelSign->text(), "删除签名(&D)");
  EXPECT_EQ(Form.btnExit->text(), "退出程序(&X)");
  EXPECT_EQ(Form.Button1->text(), "访问官网(&W)");
  EXPECT_EQ(Form.gbInfo->title(), "签名信息设置");
  EXPECT_EQ(Form.gbFiles->title(), " 待签名文件列表（可直接把文件拖动列表中；双击可查看文件属性） ");
  const std::pair<QLabel*, const char*> Labels[] = {{Form.Label6, "证书文件："}, {Form.Label2, "签名密码："},
                                                    {Form.Label4, "时间戳："}, {Form.lblDescription, "签名描述："},
                                                    {Form.Label3, "软件网址："}};
  const std::pair<QLabel*, QPoint> LabelPlaces[] = {{Form.Label6, {17, 29}}, {Form.Label2, {469, 29}},
                                                    {Form.Label4, {29, 56}}, {Form.lblDescription, {17, 83}},
                                                    {Form.Label3, {17, 111}}};
  for (const auto& [Label, Text] : Labels) EXPECT_EQ(Label->text(), Text);
  for (const auto& [Label, At] : LabelPlaces) EXPECT_EQ(Label->pos(), At) << Label->objectName().toStdString();
  EXPECT_EQ(HistoryTag(Form.cbDescription), 0);
  EXPECT_EQ(HistoryTag(Form.cbFile), 1);
  EXPECT_EQ(HistoryTag(Form.cbURL), 2);
  EXPECT_EQ(HistoryTag(Form.cbTimeStamp), 3);
  EXPECT_EQ(Form.edtPwd->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Form.Timer->interval(), 6000);
  EXPECT_TRUE(Form.Timer->isActive());
}

TEST_F(MainWindow, TabKeyVisitsControlsInDesignOrder) {
  const QList<QWidget*> Expected = {Form.btnAddSign, Form.cbFile, Form.edtPwd, Form.cbTimeStamp,
                                    Form.cbDescription, Form.cbURL, Form.btnSignFile, Form.vstFiles,
                                    Form.btnDelSign, Form.btnExit};
  Form.show();
  Form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
  Form.btnAddSign->setFocus(Qt::TabFocusReason);
  for (int I = 1; I < Expected.size(); ++I) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* Focused = QApplication::focusWidget();
    // An editable drop-down box takes the focus through its edit line.
    if (Focused != nullptr && qobject_cast<QComboBox*>(Focused->parentWidget())) Focused = Focused->parentWidget();
    EXPECT_EQ(Focused, Expected[I]) << "after " << Expected[I - 1]->objectName().toStdString();
  }
}

TEST_F(MainWindow, PopupMenuItemsInOrder) {
  const QList<QAction*> Items = Form.PopupMenu->actions();
  ASSERT_EQ(Items.size(), 14);
  EXPECT_EQ(Items[0]->text(), "删除选中(&D)");
  EXPECT_TRUE(Items[1]->isSeparator());
  EXPECT_EQ(Items[2]->text(), "全部选中(&A)");
  EXPECT_EQ(Items[3]->text(), "全部不选(&C)");
  EXPECT_EQ(Items[4]->text(), "反向选择(&U)");
  EXPECT_TRUE(Items[5]->isSeparator());
  EXPECT_EQ(Items[6]->text(), "添加文件(&L)...");
  EXPECT_EQ(Items[7]->text(), "添加文件夹(&F)...");
  EXPECT_TRUE(Items[8]->isSeparator());
  EXPECT_EQ(Items[9], Form.pmiVerify);
  EXPECT_EQ(Items[10], Form.pmiRestamp);
  EXPECT_EQ(Items[11], Form.pmiExportReport);
  // The options come last, after a separator, so the items above keep their places.
  EXPECT_TRUE(Items[12]->isSeparator());
  EXPECT_EQ(Items[13], Form.pmiOptions);
  for (QAction* Item : Items) EXPECT_TRUE(Item->isEnabled());
}

TEST_F(MainWindow, CertificateButtonFillsTheBoxUnlessCancelled) {
  QString AskedFilter;
  SetOpenFileHandler([&AskedFilter](const QString& Filter) -> std::optional<QString> {
    AskedFilter = Filter;
    return QString("/certs/company.pfx");
  });
  QTest::mouseClick(Form.btnSignFile, Qt::LeftButton);
  EXPECT_EQ(Form.cbFile->currentText(), "/certs/company.pfx");
  EXPECT_EQ(AskedFilter, "证书文件(*.pfx)");

  SetOpenFileHandler([](const QString&) { return std::optional<QString>(); });
  QTest::mouseClick(Form.btnSignFile, Qt::LeftButton);
  EXPECT_EQ(Form.cbFile->currentText(), "/certs/company.pfx");
  SetOpenFileHandler({});
}

TEST_F(MainWindow, ExitClosesTheWindowWithoutAPrompt) {
  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  QTest::mouseClick(Form.btnExit, Qt::LeftButton);
  EXPECT_FALSE(Form.isVisible());
  EXPECT_TRUE(Prompts.Shown().empty());
}

TEST_F(MainWindow, ConfigFileLivesBesideTheProgramWhenWritable) {
  const std::string Expected = (QCoreApplication::applicationDirPath() + "/config.ini").toStdString();
  EXPECT_EQ(Form.FConfigFile, Expected);
}

TEST_F(MainWindow, RefusesToShrinkBelowASizeThatKeepsItUsable) {
  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  for (int I = 0; I < 10; ++I) Form.vstFiles->Files()->Append("/w/" + std::to_string(I) + ".exe");
  Form.resize(100, 100);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form.gbFiles->height() == Form.height() - 263; }));
  const QSize Smallest = Form.size();
  EXPECT_GT(Smallest.width(), 100);
  EXPECT_GT(Smallest.height(), 100);
  EXPECT_LT(Smallest.width(), TFrmMain::DesignWidth);
  EXPECT_LT(Smallest.height(), TFrmMain::DesignHeight);

  // Three whole rows below the header, with the horizontal scroll bar the narrow list now shows.
  EXPECT_TRUE(QTest::qWaitFor([&] { return Form.vstFiles->horizontalScrollBar()->isVisible(); }));
  const QRect Viewport = Form.vstFiles->viewport()->rect();
  for (int Row = 0; Row < 3; ++Row)
    EXPECT_TRUE(Viewport.contains(Form.vstFiles->visualRect(Form.vstFiles->Files()->index(Row, 0)))) << Row;

  // Every control whole inside its parent, and no two side by side overlapping.
  for (QWidget* Parent : {static_cast<QWidget*>(&Form), static_cast<QWidget*>(Form.gbInfo),
                          static_cast<QWidget*>(Form.gbFiles)})
    for (QWidget* Control : Parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (Control->isVisible() && !Control->isWindow()) {
        EXPECT_TRUE(Parent->rect().contains(Control->geometry())) << Control->objectName().toStdString();
      }
    }
  const QList<QWidget*> Buttons = {Form.btnDelSign, Form.btnAddSign, Form.Button1, Form.btnExit};
  EXPECT_GE(Buttons.front()->x(), Form.gbFiles->x());
  for (int I = 1; I < Buttons.size(); ++I) EXPECT_FALSE(Buttons[I]->geometry().intersects(Buttons[I - 1]->geometry()));
  for (QWidget* Row : {static_cast<QWidget*>(Form.cbFile), static_cast<QWidget*>(Form.btnSignFile),
                       static_cast<QWidget*>(Form.edtPwd)})
    EXPECT_FALSE(Row->geometry().intersects(Form.Label6->geometry())) << Row->objectName().toStdString();
  EXPECT_FALSE(Form.cbFile->geometry().intersects(Form.btnSignFile->geometry()));
  EXPECT_FALSE(Form.btnSignFile->geometry().intersects(Form.Label2->geometry()));
}

TEST(ProgramOptions, HelpAndVersionPrintAndEndWithoutAWindow) {
  const std::string Program = (QCoreApplication::applicationDirPath() + "/quillory").toStdString();
  // No display at all: the answer must not need one.
  const TScopedEnvironment NoDisplay("DISPLAY", std::nullopt);
  for (const char* Option : {"--version", "-v"}) {
    const TProcessResult Version = RunProcess(Program, {Option});
    EXPECT_EQ(Version.ExitCode, 0) << Version.Err;
    EXPECT_EQ(Version.Out, "Quillory 3.0.9.1\n") << Option;
    EXPECT_EQ(Version.Err, "");
  }
  for (const char* Option : {"--help", "-h"}) {
    const TProcessResult Help = RunProcess(Program, {"--some-qt-option", Option});
    EXPECT_EQ(Help.ExitCode, 0) << Help.Err;
    EXPECT_EQ(Help.Out.rfind("Quillory 3.0.9.1\n", 0), 0u) << Help.Out;
    EXPECT_NE(Help.Out.find("--version"), std::string::npos) << Help.Out;
    EXPECT_EQ(Help.Err, "");
  }
}
