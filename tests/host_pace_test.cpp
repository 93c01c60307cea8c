// The timestamp pace kept in a pace file: what one opener of the file learns holds for every
// other, as for the processes of one batch, requests in flight are counted across the batch until
// they end, and only a private file of this user is taken.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>

#include <atomic>
#include <fstream>
#include <memory>
#include <thread>

#include "authenticode/HostPace.h"
#include "authenticode/PaceFile.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/ScopedEnvironment.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
using namespace std::chrono_literals;

class PaceFile : public ::testing::Test {
 protected:
  QTemporaryDir Folder;
  std::string Path = QDir(Folder.path()).filePath("pace").toStdString();

  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    std::ofstream(Path).flush();
    ASSERT_EQ(::chmod(Path.c_str(), 0600), 0);
  }

  // The pace file as one more process of the batch sees it: opened anew.
  std::unique_ptr<TPaceFile> Opened() const {
    TPaceFileOpening Opening = OpenPaceFile(Path);
    if (!Opening.File.IsOpen()) throw std::runtime_error(Opening.Problem);
    return std::make_unique<TPaceFile>(std::move(Opening.File));
  }
};

TSteadyClock::time_point Soon() { return TSteadyClock::now() + 200ms; }

THostPace::TWait TurnSoon(THostPace& Pace, const std::string& Host) {
  return Pace.TakeTurn(Host, TSteadyClock::now(), Soon(), -1).Wait;
}

TEST_F(PaceFile, WhatOneOpenerLearnsHoldsForTheOthers) {
  const auto FirstFile = Opened(), SecondFile = Opened();
  THostPace First(*FirstFile), Second(*SecondFile);
  // Refused while alone in flight, the first was asked to wait an hour: the host counts requests
  // over time, so the second's next turn is past any near deadline.
  {
    THostPace::TTurn Turn = First.TakeTurn("ts.example", TSteadyClock::now(), Soon(), -1);
    ASSERT_EQ(Turn.Wait, THostPace::TWait::Taken);
    First.Throttled(*Turn.Slot, 1h);
  }
  EXPECT_EQ(TurnSoon(Second, "ts.example"), THostPace::TWait::PastDeadline);
  // Other hosts keep their own pace.
  EXPECT_EQ(TurnSoon(Second, "other.example"), THostPace::TWait::Taken);
  // A turn taken by one opener with a gap of its own starts the gap for the next opener too.
  const auto PacedFile = Opened();
  THostPace Paced(*PacedFile, 1h);
  EXPECT_EQ(TurnSoon(Paced, "third.example"), THostPace::TWait::Taken);
  EXPECT_EQ(TurnSoon(First, "third.example"), THostPace::TWait::PastDeadline);
  // A file with a line cut off or not understood still paces the hosts it names.
  std::ofstream(Path, std::ios::app) << "garbled line\nhost:broken.example 12 x\nhost:cut.example 1";
  const auto LaterFile = Opened();
  THostPace Later(*LaterFile);
  EXPECT_EQ(TurnSoon(Later, "ts.example"), THostPace::TWait::PastDeadline);
  EXPECT_EQ(TurnSoon(Later, "broken.example"), THostPace::TWait::Taken);
}

TEST_F(PaceFile, RequestsInFlightAreCountedAcrossTheBatchUntilTheyEndOrTheirProcessDies) {
  const auto File = Opened();
  THostPace Pace(*File);
  // Three at once, a fourth refused as too many: three at once from now on, and no gap.
  std::vector<THostPace::TTurn> Turns;
  for (int Taken = 0; Taken < 4; ++Taken) Turns.push_back(Pace.TakeTurn("busy.example", TSteadyClock::now(), Soon(), -1));
  ASSERT_TRUE(Turns[3].Slot);
  Pace.Throttled(*Turns[3].Slot, 1h);
  Turns.pop_back();
  const auto OtherFile = Opened();
  THostPace Other(*OtherFile);
  EXPECT_EQ(TurnSoon(Other, "busy.example"), THostPace::TWait::PastDeadline);
  Turns.pop_back();
  EXPECT_EQ(TurnSoon(Other, "busy.example"), THostPace::TWait::Taken);
  Turns.clear();

  // signtool.exe of the same batch, killed while its request waits for a server that never
  // answers: its place is counted while it runs, and given back when it dies.
  TimestampServer Silent(TTimestampBehaviour::Silent);
  {
    THostPace::TTurn Alone = Pace.TakeTurn("127.0.0.1", TSteadyClock::now(), Soon(), -1);
    ASSERT_EQ(Alone.Wait, THostPace::TWait::Taken);
    THostPace::TTurn Second = Pace.TakeTurn("127.0.0.1", TSteadyClock::now(), Soon(), -1);
    Pace.Throttled(*Second.Slot, 0s);  // two were too many: one at a time
  }
  const TScopedEnvironment SharedPace(TimestampPaceVariable, Path);
  const std::string Program = Folder.filePath("program.exe").toStdString();
  WriteBytes(Program, BuildPe({TPeKind::Exe32, 16 * 1024}));
  std::atomic<bool> Ended = false;
  std::thread Run([&] {
    RunProcess(QCoreApplication::applicationDirPath().toStdString() + "/signtool.exe",
               {"sign", "/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, "/t", Silent.Url(), Program}, {},
               5000);
    Ended = true;
  });
  while (Silent.RequestCount() == 0 && !Ended) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(TurnSoon(Pace, "127.0.0.1"), THostPace::TWait::PastDeadline);
  Run.join();
  EXPECT_EQ(TurnSoon(Pace, "127.0.0.1"), THostPace::TWait::Taken);
}

TEST_F(PaceFile, OnlyAPrivateRegularFileOfThisUserIsTaken) {
  EXPECT_TRUE(OpenPaceFile(Path).File.IsOpen());
  ASSERT_EQ(::chmod(Path.c_str(), 0640), 0);
  EXPECT_NE(OpenPaceFile(Path).Problem.find("no one else may read or write"), std::string::npos);

  const std::string Link = Path + "-link";
  ASSERT_EQ(::chmod(Path.c_str(), 0600), 0);
  ASSERT_EQ(::symlink(Path.c_str(), Link.c_str()), 0);
  EXPECT_FALSE(OpenPaceFile(Link).File.IsOpen());

  // A named pipe in its place neither keeps the open waiting nor is taken.
  const std::string Pipe = Path + "-pipe";
  ASSERT_EQ(::mkfifo(Pipe.c_str(), 0600), 0);
  EXPECT_FALSE(OpenPaceFile(Pipe).File.IsOpen());
  EXPECT_FALSE(OpenPaceFile(Path + "-missing").File.IsOpen());
}
}  // namespace
