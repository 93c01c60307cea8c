#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <functional>

#include "ui/TFileListView.h"
#include "support/PeFixtures.h"
#include "support/PromptRecorder.h"
#include "ui/TFrmFileProperties.h"
#include "ui/uFrmMain.h"

namespace {
class ListCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    Form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  }
  void TearDown() override {
    for (QWidget* Window : QApplication::topLevelWidgets())
      if (qobject_cast<TFrmFileProperties*>(Window)) delete Window;
  }

  TFileListModel& Files() { return *Form.vstFiles->Files(); }

  void Select(std::initializer_list<int> Rows) {
    for (const int Row : Rows)
      Form.vstFiles->selectionModel()->select(Files().index(Row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }

  std::vector<int> Selected() {
    auto Positions = Form.vstFiles->SelectedPositions();
    std::sort(Positions.begin(), Positions.end());
    return Positions;
  }

  std::vector<std::string> Names() {
    std::vector<std::string> Result;
    for (auto Id = Files().First(); Id; Id = Files().Next(*Id)) Result.push_back(ToString(Files().Item(*Id)->FileName));
    return Result;
  }

  QPoint CenterOfRow(int Row) { return Form.vstFiles->visualRect(Files().index(Row, 0)).center(); }

  // The events a real double-click brings: press, release, press, double-click, release.
  void DoubleClick(QPoint At) {
    QWidget* Viewport = Form.vstFiles->viewport();
    const QPointF Global = Viewport->mapToGlobal(QPointF(At));
    const std::pair<QEvent::Type, Qt::MouseButtons> Steps[] = {
        {QEvent::MouseButtonPress, Qt::LeftButton}, {QEvent::MouseButtonRelease, Qt::NoButton},
        {QEvent::MouseButtonPress, Qt::LeftButton}, {QEvent::MouseButtonDblClick, Qt::LeftButton},
        {QEvent::MouseButtonRelease, Qt::NoButton}};
    for (const auto& [Type, Buttons] : Steps) {
      QMouseEvent Event(Type, QPointF(At), Global, Qt::LeftButton, Buttons, Qt::NoModifier);
      QApplication::sendEvent(Viewport, &Event);
    }
  }

  // The list with the keyboard focus in an active window, as keys reach it.
  void FocusList() {
    Form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
    Form.vstFiles->setFocus();
    ASSERT_TRUE(Form.vstFiles->hasFocus());
  }

  static int OpenPropertiesWindows() {
    int Count = 0;
    for (QWidget* Window : QApplication::topLevelWidgets()) Count += qobject_cast<TFrmFileProperties*>(Window) ? 1 : 0;
    return Count;
  }

  PromptRecorder Prompts;
  TFrmMain Form;
};
}  // namespace

TEST_F(ListCommands, RightClickOnTheListOpensThePopupMenu) {
  Files().Append("/w/a.exe");
  QContextMenuEvent Event(QContextMenuEvent::Mouse, CenterOfRow(0), Form.vstFiles->viewport()->mapToGlobal(CenterOfRow(0)));
  QApplication::sendEvent(Form.vstFiles->viewport(), &Event);
  EXPECT_TRUE(Form.PopupMenu->isVisible());
  Form.PopupMenu->close();
}

TEST_F(ListCommands, InvertThenDeleteThroughTheMenuItems) {
  for (const char* Name : {"/w/1.exe", "/w/2.exe", "/w/3.exe"}) Files().Append(Name);
  Files().SetResult(Files().IdAt(0), fsFailed, "SignTool Error: first");
  Files().SetResult(Files().IdAt(2), fsWarning, "SignTool Warning: third");
  Select({0, 2});

  Form.N5->trigger();
  EXPECT_EQ(Selected(), std::vector<int>{1});
  Form.pmiDelete->trigger();
  EXPECT_EQ(Names(), (std::vector<std::string>{"/w/1.exe", "/w/3.exe"}));
  const TFileItem* First = Files().Item(Files().IdAt(0));
  const TFileItem* Third = Files().Item(Files().IdAt(1));
  EXPECT_EQ(First->Status, fsFailed);
  EXPECT_EQ(ToString(First->Info), "SignTool Error: first");
  EXPECT_EQ(Third->Status, fsWarning);
  EXPECT_EQ(ToString(Third->Info), "SignTool Warning: third");
  EXPECT_TRUE(Prompts.Shown().empty());  // no confirmation
}

TEST_F(ListCommands, DeleteWithNothingSelectedChangesNothing) {
  for (const char* Name : {"/w/1.exe", "/w/2.exe"}) Files().Append(Name);
  Form.pmiDelete->trigger();
  EXPECT_EQ(Names(), (std::vector<std::string>{"/w/1.exe", "/w/2.exe"}));
}

TEST_F(ListCommands, SelectAllInvertAndClearThroughTheMenu) {
  for (int I = 0; I < 3; ++I) Files().Append("/w/" + std::to_string(I) + ".exe");
  Form.pmiSelAll->trigger();
  EXPECT_EQ(Selected(), (std::vector<int>{0, 1, 2}));
  Form.pmiUnSelAll->trigger();
  EXPECT_TRUE(Selected().empty());
  Form.N5->trigger();
  EXPECT_EQ(Selected(), (std::vector<int>{0, 1, 2}));
}

TEST_F(ListCommands, DoubleClickOnARowOpensThatFilesProperties) {
  QTemporaryDir Folder;
  const std::string First = Folder.filePath("first.exe").toStdString();
  const std::string Second = Folder.filePath("second.exe").toStdString();
  WriteBytes(First, BuildPe({}));
  Files().Append(First);
  Files().Append(Second);  // need not exist
  DoubleClick(CenterOfRow(1));
  EXPECT_EQ(OpenPropertiesWindows(), 1);
  EXPECT_NE(TFrmFileProperties::Find(QString::fromStdString(Second)), nullptr);

  DoubleClick(CenterOfRow(0));
  EXPECT_NE(TFrmFileProperties::Find(QString::fromStdString(First)), nullptr);
  EXPECT_EQ(OpenPropertiesWindows(), 2);
}

TEST_F(ListCommands, DoubleClickBelowTheRowsOpensTheFocusedRowsProperties) {
  Files().Append("/w/first.exe");
  Files().Append("/w/second.exe");
  const QPoint BelowRows(30, Form.vstFiles->visualRect(Files().index(1, 0)).bottom() + 30);
  ASSERT_TRUE(Form.vstFiles->viewport()->rect().contains(BelowRows));

  DoubleClick(BelowRows);
  EXPECT_EQ(OpenPropertiesWindows(), 0);  // no focused row yet

  Form.vstFiles->setCurrentIndex(Files().index(1, 0));
  DoubleClick(BelowRows);
  EXPECT_EQ(OpenPropertiesWindows(), 1);
  EXPECT_NE(TFrmFileProperties::Find("/w/second.exe"), nullptr);
}

TEST(BatchWalk, DeletingTheCurrentAndNextRowsKeepsTheWalkInOrder) {
  TFileListModel Files;
  for (char Name = 'a'; Name <= 'h'; ++Name) Files.Append(std::string("/w/") + Name + ".exe");
  std::vector<std::string> Visited;
  for (auto Id = Files.First(); Id; Id = Files.Next(*Id)) {
    const TFileItem* Item = Files.Item(*Id);
    if (Item == nullptr) {
      Visited.push_back("(gone)");
      continue;
    }
    Visited.push_back(ToString(Item->FileName));
    if (Visited.back() == "/w/c.exe") {
      // While the walk stands on c, c and d are deleted and a row is appended.
      Files.RemoveRowsAt({Files.RowOf(*Id), Files.RowOf(*Id) + 1});
      Files.Append("/w/new.exe");
    }
    Files.SetResult(*Id, fsOk, "");  // the deleted row's result goes nowhere
  }
  EXPECT_EQ(Visited, (std::vector<std::string>{"/w/a.exe", "/w/b.exe", "/w/c.exe", "/w/e.exe", "/w/f.exe",
                                               "/w/g.exe", "/w/h.exe", "/w/new.exe"}));
  EXPECT_EQ(Files.Count(), 7);
  for (auto Id = Files.First(); Id; Id = Files.Next(*Id)) EXPECT_EQ(Files.Item(*Id)->Status, fsOk);
}

TEST_F(ListCommands, DeleteKeyRemovesTheSelectedRowsAsTheMenuEntryDoes) {
  for (const char* Name : {"/w/1.exe", "/w/2.exe", "/w/3.exe", "/w/4.exe"}) Files().Append(Name);
  Files().SetResult(Files().IdAt(3), fsFailed, "SignTool Error: fourth");
  FocusList();
  Select({0, 2});
  QTest::keyClick(Form.vstFiles, Qt::Key_Delete);
  EXPECT_EQ(Names(), (std::vector<std::string>{"/w/2.exe", "/w/4.exe"}));
  EXPECT_EQ(ToString(Files().Item(Files().IdAt(1))->Info), "SignTool Error: fourth");
  EXPECT_TRUE(Prompts.Shown().empty());

  // Whenever the menu entry is refused, so is the key.
  Select({0});
  Form.pmiDelete->setEnabled(false);
  QTest::keyClick(Form.vstFiles, Qt::Key_Delete);
  EXPECT_EQ(Files().Count(), 2);
  Form.pmiDelete->setEnabled(true);
  QTest::keyClick(Form.vstFiles, Qt::Key_Delete);
  EXPECT_EQ(Names(), std::vector<std::string>{"/w/4.exe"});
}

TEST_F(ListCommands, EnterOpensTheFocusedRowsPropertiesAsDoubleClickDoes) {
  Files().Append("/w/first.exe");
  Files().Append("/w/second.exe");
  FocusList();
  Form.vstFiles->setCurrentIndex(Files().index(1, 0));
  QTest::keyClick(Form.vstFiles, Qt::Key_Return);
  EXPECT_EQ(OpenPropertiesWindows(), 1);
  EXPECT_NE(TFrmFileProperties::Find("/w/second.exe"), nullptr);

  FocusList();
  QTest::keyClick(Form.vstFiles, Qt::Key_Up);
  QTest::keyClick(Form.vstFiles, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_NE(TFrmFileProperties::Find("/w/first.exe"), nullptr);
  EXPECT_EQ(OpenPropertiesWindows(), 2);
}

TEST_F(ListCommands, MenuKeyAndShiftF10OpenThePopupMenuAtTheFocusedRow) {
  for (int I = 0; I < 3; ++I) Files().Append("/w/" + std::to_string(I) + ".exe");
  FocusList();
  Form.vstFiles->setCurrentIndex(Files().index(2, 0));
  const QRect Row = Form.vstFiles->visualRect(Files().index(2, 0));
  const QRect RowOnScreen(Form.vstFiles->viewport()->mapToGlobal(Row.topLeft()), Row.size());
  const std::pair<Qt::Key, Qt::KeyboardModifiers> Keys[] = {{Qt::Key_Menu, Qt::NoModifier},
                                                            {Qt::Key_F10, Qt::ShiftModifier}};
  for (const auto& [Key, Modifiers] : Keys) {
    QTest::keyClick(Form.vstFiles, Key, Modifiers);
    ASSERT_TRUE(Form.PopupMenu->isVisible()) << Key;
    // Opened beside the row, not wherever the mouse happens to be.
    EXPECT_LE(std::abs(Form.PopupMenu->y() - RowOnScreen.bottom()), TFileListView::RowHeight) << Key;
    Form.PopupMenu->close();
  }
  QTest::keyClick(Form.vstFiles, Qt::Key_F10);
  EXPECT_FALSE(Form.PopupMenu->isVisible());
}

TEST_F(ListCommands, PropertiesWindowBelongsToTheMainWindow) {
  QTemporaryDir Folder;
  const std::string Path = Folder.filePath("tool.exe").toStdString();
  WriteBytes(Path, BuildPe({}));
  Files().Append(Path);
  Form.move(Form.screen()->availableGeometry().topLeft() + QPoint(40, 30));
  DoubleClick(CenterOfRow(0));
  TFrmFileProperties* Window = TFrmFileProperties::Find(QString::fromStdString(Path));
  ASSERT_NE(Window, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Window));
  EXPECT_EQ(Window->parentWidget(), &Form);
  EXPECT_TRUE(Window->isWindow());
  const QPoint Offset = Window->frameGeometry().center() - Form.frameGeometry().center();
  EXPECT_LE(Offset.manhattanLength(), 40) << Offset.x() << "," << Offset.y();

  // Asked again, the open window comes forward instead of a second one.
  Window->lower();
  DoubleClick(CenterOfRow(0));
  EXPECT_EQ(OpenPropertiesWindows(), 1);
  EXPECT_EQ(TFrmFileProperties::Find(QString::fromStdString(Path)), Window);

  QPointer<TFrmFileProperties> Watched(Window);
  Form.close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(Watched.isNull());
}

TEST_F(ListCommands, PropertiesWindowClosesByButtonEscapeAndCtrlW) {
  const std::function<void(TFrmFileProperties*)> Ways[] = {
      [](TFrmFileProperties* Window) { QTest::mouseClick(Window->btnClose, Qt::LeftButton); },
      [](TFrmFileProperties* Window) { QTest::keyClick(Window, Qt::Key_Escape); },
      [](TFrmFileProperties* Window) { QTest::keyClick(Window, Qt::Key_W, Qt::ControlModifier); },
  };
  Files().Append("/w/gone.exe");  // a missing file's window has the button too
  QTemporaryDir Folder;
  const std::string Present = Folder.filePath("here.exe").toStdString();
  WriteBytes(Present, BuildPe({}));
  Files().Append(Present);
  for (int Row = 0; Row < 2; ++Row) {
    for (const auto& Close : Ways) {
      DoubleClick(CenterOfRow(Row));
      TFrmFileProperties* Window = TFrmFileProperties::Find(QString::fromStdString(Files().FileName(Files().IdAt(Row))));
      ASSERT_NE(Window, nullptr);
      // Opened for the keyboard: the keys reach it at once.
      ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == Window; }));
      QPointer<TFrmFileProperties> Watched(Window);
      Close(Window);
      EXPECT_TRUE(QTest::qWaitFor([&] { return Watched.isNull(); })) << Row;
    }
  }
  EXPECT_TRUE(Form.isVisible());
}
