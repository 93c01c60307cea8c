// The list follows a batch's work: the row being worked on comes into view unless the user has
// moved the list meanwhile, and the view stays put once the batch is over.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <functional>

#include "ui/TFileListView.h"
#include "support/PromptRecorder.h"
#include "support/TestPki.h"
#include "ui/uFrmMain.h"

namespace {
class WorkingRowFollow : public ::testing::Test {
 protected:
  static constexpr int Rows = 40;

  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    Form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
    // Files that do not exist: every row fails at once, which is all these tests need.
    for (int I = 0; I < Rows; ++I) Files().Append(Folder.filePath(QString("missing-%1.exe").arg(I)).toStdString());
  }

  TFileListModel& Files() { return *Form.vstFiles->Files(); }
  QScrollBar* Vertical() { return Form.vstFiles->verticalScrollBar(); }

  bool RowInView(int Row) {
    const QRect Rect = Form.vstFiles->visualRect(Files().index(Row, 0));
    return Rect.isValid() && Form.vstFiles->viewport()->rect().contains(Rect);
  }

  // Calls Then once, when the row at Position has been given its result.
  void WhenRowFinished(int Position, std::function<void()> Then) {
    const TRowId Id = Files().IdAt(Position);
    auto Connection = std::make_shared<QMetaObject::Connection>();
    *Connection = QObject::connect(&Files(), &QAbstractItemModel::dataChanged, &Form,
                                   [this, Id, Connection, Then = std::move(Then)] {
                                     if (Files().Item(Id)->Status == fsPending) return;
                                     QObject::disconnect(*Connection);
                                     Then();
                                   });
  }

  // A turn of the mouse wheel over the list, as a person gives it.
  void Wheel(int Notches) {
    QWidget* Viewport = Form.vstFiles->viewport();
    const QPointF At = Viewport->rect().center();
    QWheelEvent Event(At, Viewport->mapToGlobal(At), QPoint(), QPoint(0, 120 * Notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Viewport, &Event);
  }

  void RunRemoval() { QTest::mouseClick(Form.btnDelSign, Qt::LeftButton); }

  void RunSigning() {
    Form.cbFile->setEditText(QString::fromStdString(TestPki().PfxPath));
    Form.edtPwd->setText(QString::fromStdString(TestPki().PfxPassword));
    Form.cbTimeStamp->setEditText("http://127.0.0.1:9/");
    QTest::mouseClick(Form.btnAddSign, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form.btnDelSign->isEnabled(); }, 120000));
  }

  QTemporaryDir Folder;
  PromptRecorder Prompts;
  TFrmMain Form;
};
}  // namespace

TEST_F(WorkingRowFollow, EveryKindOfBatchEndsWithItsLastRowInView) {
  ASSERT_FALSE(RowInView(Rows - 1));
  RunRemoval();
  EXPECT_TRUE(RowInView(Rows - 1));

  Vertical()->setValue(0);
  ASSERT_FALSE(RowInView(Rows - 1));
  RunSigning();
  EXPECT_TRUE(RowInView(Rows - 1));
  EXPECT_EQ(Prompts.Shown().size(), 2u);
}

TEST_F(WorkingRowFollow, RowsComeIntoViewOneAfterAnother) {
  std::vector<int> NotInView;
  for (int Row = 0; Row < Rows; ++Row)
    WhenRowFinished(Row, [this, Row, &NotInView] {
      if (!RowInView(Row)) NotInView.push_back(Row);
    });
  RunRemoval();
  EXPECT_TRUE(NotInView.empty()) << ::testing::PrintToString(NotInView);
}

TEST_F(WorkingRowFollow, AWheelTurnDuringTheBatchIsKept) {
  int Kept = -1;
  WhenRowFinished(20, [this, &Kept] {
    ASSERT_TRUE(RowInView(20));
    Wheel(+2);  // back up towards the top
    Kept = Vertical()->value();
  });
  RunRemoval();
  ASSERT_GT(Kept, 0);
  EXPECT_EQ(Vertical()->value(), Kept);
  EXPECT_FALSE(RowInView(Rows - 1));
}

TEST_F(WorkingRowFollow, KeyboardMovesDuringTheSigningBatchAreKept) {
  Form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Form));
  Form.vstFiles->setFocus();
  Form.vstFiles->setCurrentIndex(Files().index(Rows - 1, 0));
  int Kept = -1;
  WhenRowFinished(25, [this, &Kept] {
    QTest::keyClick(Form.vstFiles, Qt::Key_Home);
    Kept = Vertical()->value();
  });
  RunSigning();
  EXPECT_EQ(Kept, 0);
  EXPECT_EQ(Vertical()->value(), 0);
  EXPECT_TRUE(RowInView(0));
}

TEST_F(WorkingRowFollow, ANewBatchFollowsAgainAndTheViewStaysAfterIt) {
  WhenRowFinished(10, [this] { Wheel(+5); });
  RunRemoval();
  ASSERT_FALSE(RowInView(Rows - 1));

  RunRemoval();  // the user's earlier scroll belongs to the earlier batch
  ASSERT_TRUE(RowInView(Rows - 1));
  const int AtEnd = Vertical()->value();
  Files().Append(Folder.filePath("late.exe").toStdString());
  QCoreApplication::processEvents();
  EXPECT_EQ(Vertical()->value(), AtEnd);
}
