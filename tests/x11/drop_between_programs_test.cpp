// Files dragged from another X client onto Quillory's list arrive as rows, in the order the
// drag source gave them.
#include <gtest/gtest.h>

#include <QDir>
#include <QDrag>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/TApplication.h"
#include "ui/TFileListView.h"
#include "support/PeFixtures.h"
#include "support/PromptRecorder.h"
#include "ui/uFrmMain.h"

namespace {
constexpr int Attempts = 4;
const QPoint SourceAt(20, 20);

bool HasDisplay() { return !qEnvironmentVariableIsEmpty("DISPLAY"); }

std::vector<std::string> Rows(const TFileListModel& Files) {
  std::vector<std::string> Names;
  for (auto Id = Files.First(); Id; Id = Files.Next(*Id)) Names.push_back(ToString(Files.Item(*Id)->FileName));
  return Names;
}

// Waits while the test's own window keeps handling events.
bool WaitForLine(QProcess& Process, const QByteArray& Prefix, int TimeoutMs, QByteArray* Line = nullptr) {
  return QTest::qWaitFor(
      [&] {
        while (Process.canReadLine()) {
          const QByteArray Next = Process.readLine().trimmed();
          if (Next.startsWith(Prefix)) {
            if (Line) *Line = Next;
            return true;
          }
        }
        return false;
      },
      TimeoutMs);
}

// Moves to From, presses the button, moves in small steps onto To and releases there. xdotool
// runs in the background so this process can answer the drag protocol meanwhile.
void DragWithXdotool(QProcess& Xdotool, QPoint From, QPoint To) {
  QStringList Args = {"mousemove", QString::number(From.x()), QString::number(From.y()), "sleep", "0.3",
                      "mousedown", "1", "sleep", "0.3"};
  constexpr int Steps = 12;
  for (int I = 1; I <= Steps; ++I) {
    const QPoint At = From + (To - From) * I / Steps + QPoint(0, I % 2 * 3);
    Args << "mousemove" << QString::number(At.x()) << QString::number(At.y()) << "sleep" << "0.1";
  }
  // A few moves at the target so it has answered the position before the release.
  for (int I = 0; I < 3; ++I)
    Args << "mousemove" << QString::number(To.x() + I) << QString::number(To.y()) << "sleep" << "0.3";
  Args << "mouseup" << "1";
  Xdotool.start("xdotool", Args);
}

// Counts the drops the list receives and, on a button press in it, starts a drag of Files from
// the list itself.
class TSelfDrag : public QObject {
 public:
  TSelfDrag(TFileListView* List, QList<QUrl> Files) : List(List), Files(std::move(Files)) {
    List->viewport()->installEventFilter(this);
  }
  int Drops = 0;
  bool Finished = false;

 protected:
  bool eventFilter(QObject*, QEvent* Event) override {
    if (Event->type() == QEvent::Drop) ++Drops;
    if (Event->type() == QEvent::MouseButtonPress && !Dragging) {
      Dragging = true;
      QTimer::singleShot(0, this, [this] {
        auto* Data = new QMimeData;
        Data->setUrls(Files);
        auto* Drag = new QDrag(List);
        Drag->setMimeData(Data);
        Drag->exec(Qt::CopyAction | Qt::MoveAction);
        Dragging = false;
        Finished = true;
      });
    }
    return false;
  }

 private:
  TFileListView* List;
  QList<QUrl> Files;
  bool Dragging = false;
};

class DropBetweenPrograms : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HasDisplay()) GTEST_SKIP() << "no X display";
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    Form.move(400, 60);
    Form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  }

  QPoint ListCenter() const { return Form.vstFiles->viewport()->mapToGlobal(Form.vstFiles->viewport()->rect().center()); }

  QTemporaryDir Folder;
  PromptRecorder Prompts;
  TFrmMain Form;
  TFileListModel& Files = *Form.vstFiles->Files();
};
}  // namespace

TEST_F(DropBetweenPrograms, FilesFromAnotherProgramBecomeRowsInOrder) {
  const std::string Second = Folder.filePath("second.exe").toStdString();
  const std::string First = Folder.filePath("first.dll").toStdString();
  WriteBytes(Second, BuildPe({}));
  WriteBytes(First, BuildPe({.Kind = TPeKind::Dll32}));


  for (int Attempt = 1; Attempt <= Attempts && Files.Count() == 0; ++Attempt) {
    QProcess Source;
    Source.start(QUILLORY_DRAG_SOURCE, {QString::number(SourceAt.x()), QString::number(SourceAt.y()),
                                        QString::fromStdString(Second), QString::fromStdString(First)});
    ASSERT_TRUE(Source.waitForStarted(10000)) << Source.errorString().toStdString();
    if (!WaitForLine(Source, "ready", 30000)) {
      ADD_FAILURE() << "drag source did not show its window; attempt " << Attempt;
      Source.kill();
      Source.waitForFinished();
      continue;
    }
    QProcess Xdotool;
    DragWithXdotool(Xdotool, SourceAt + QPoint(80, 80), ListCenter());
    ASSERT_TRUE(Xdotool.waitForStarted(10000)) << "xdotool: " << Xdotool.errorString().toStdString();

    QByteArray Result;
    const bool Dropped = WaitForLine(Source, "result", 30000, &Result) && QTest::qWaitFor([&] { return Files.Count() > 0; }, 5000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Xdotool.state() == QProcess::NotRunning; }, 30000));
    Source.kill();
    Source.waitForFinished();
    if (Dropped) {
      EXPECT_EQ(Result, "result " + QByteArray::number(Qt::CopyAction));
    }
  }

  EXPECT_EQ(Rows(Files), (std::vector<std::string>{Second, First}));
  EXPECT_TRUE(QFile::exists(QString::fromStdString(Second)));
  EXPECT_TRUE(QFile::exists(QString::fromStdString(First)));
  EXPECT_TRUE(Prompts.Shown().empty());
}

TEST_F(DropBetweenPrograms, DropComingFromTheListItselfIsIgnored) {
  const std::string Other = Folder.filePath("other.exe").toStdString();
  WriteBytes(Other, BuildPe({}));
  Files.Append("/w/kept.exe");
  TSelfDrag Drag(Form.vstFiles, {QUrl::fromLocalFile(QString::fromStdString(Other))});

  for (int Attempt = 1; Attempt <= Attempts && Drag.Drops == 0; ++Attempt) {
    QProcess Xdotool;
    DragWithXdotool(Xdotool, ListCenter(), ListCenter() + QPoint(40, 30));
    ASSERT_TRUE(Xdotool.waitForStarted(10000)) << "xdotool: " << Xdotool.errorString().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Xdotool.state() == QProcess::NotRunning; }, 30000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Drag.Finished; }, 10000));
  }
  EXPECT_GE(Drag.Drops, 1);
  EXPECT_EQ(Rows(Files), std::vector<std::string>{"/w/kept.exe"});
}

int main(int Argc, char** Argv) {
  // Without a display the test skips itself; the application still needs a platform to start.
  if (!HasDisplay()) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&Argc, Argv);
  TApplication Application(Argc, Argv);
  return RUN_ALL_TESTS();
}
