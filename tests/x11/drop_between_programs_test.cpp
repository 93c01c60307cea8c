// Files dragged from another X client onto Quillory's list arrive as rows, in the order the
// drag source gave them.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "app/TApplication.h"
#include "filelist/TFileListView.h"
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

// Presses the button in the drag source's window, moves in small steps onto Target and
// releases there. xdotool runs in the background so this process can answer the drag protocol.
void DragWithXdotool(QProcess& Xdotool, QPoint Target) {
  const QPoint Start = SourceAt + QPoint(80, 80);
  QStringList Args = {"mousemove", QString::number(Start.x()), QString::number(Start.y()), "sleep", "0.3",
                      "mousedown", "1", "sleep", "0.3"};
  constexpr int Steps = 12;
  for (int I = 1; I <= Steps; ++I) {
    const QPoint At = Start + (Target - Start) * I / Steps;
    Args << "mousemove" << QString::number(At.x()) << QString::number(At.y()) << "sleep" << "0.1";
  }
  // A few moves inside the list so the target has answered the position before the release.
  for (int I = 0; I < 3; ++I)
    Args << "mousemove" << QString::number(Target.x() + I) << QString::number(Target.y()) << "sleep" << "0.3";
  Args << "mouseup" << "1";
  Xdotool.start("xdotool", Args);
}
}  // namespace

TEST(DropBetweenPrograms, FilesFromAnotherProgramBecomeRowsInOrder) {
  if (!HasDisplay()) GTEST_SKIP() << "no X display";
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");

  QTemporaryDir Folder;
  const std::string Second = Folder.filePath("second.exe").toStdString();
  const std::string First = Folder.filePath("first.dll").toStdString();
  WriteBytes(Second, BuildPe({}));
  WriteBytes(First, BuildPe({.Kind = TPeKind::Dll32}));

  PromptRecorder Prompts;
  TFrmMain Form;
  Form.move(400, 60);
  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  TFileListModel& Files = *Form.vstFiles->Files();

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
    const QPoint Target = Form.vstFiles->viewport()->mapToGlobal(Form.vstFiles->viewport()->rect().center());
    QProcess Xdotool;
    DragWithXdotool(Xdotool, Target);
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

int main(int Argc, char** Argv) {
  // Without a display the test skips itself; the application still needs a platform to start.
  if (!HasDisplay()) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&Argc, Argv);
  TApplication Application(Argc, Argv);
  return RUN_ALL_TESTS();
}
