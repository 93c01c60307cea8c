// The timestamp pace kept in a pace file: what one opener of the file learns holds for every
// other, as for the processes of one batch, and only a private file of this user is taken.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "authenticode/HostPace.h"
#include "authenticode/PaceFile.h"

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

  // The pace as one more process of the batch sees it: the file opened anew.
  THostPace Opener(std::chrono::milliseconds MinimumGap = {}) const {
    TPaceFileOpening Opened = OpenPaceFile(Path);
    if (!Opened.File.IsOpen()) throw std::runtime_error(Opened.Problem);
    return THostPace(std::move(Opened.File), MinimumGap);
  }
};

TEST_F(PaceFile, WhatOneOpenerLearnsHoldsForTheOthers) {
  THostPace First = Opener(), Second = Opener();
  const auto Soon = [] { return TSteadyClock::now() + 200ms; };
  // The host asked the first to wait an hour: the second's next turn is past any near deadline.
  First.SlowDown("ts.example", 1h);
  EXPECT_EQ(Second.TakeTurn("ts.example", Soon(), -1), THostPace::TTurn::PastDeadline);
  // Other hosts keep their own pace.
  EXPECT_EQ(Second.TakeTurn("other.example", Soon(), -1), THostPace::TTurn::Taken);
  // A turn taken by one opener with a gap of its own starts the gap for the next opener too.
  THostPace Paced = Opener(1h);
  EXPECT_EQ(Paced.TakeTurn("third.example", Soon(), -1), THostPace::TTurn::Taken);
  EXPECT_EQ(First.TakeTurn("third.example", Soon(), -1), THostPace::TTurn::PastDeadline);
  // A file with a line cut off or not understood still paces the hosts it names.
  std::ofstream(Path, std::ios::app) << "garbled line\nbroken.example 12 x\ncut.example 1";
  EXPECT_EQ(Opener().TakeTurn("ts.example", Soon(), -1), THostPace::TTurn::PastDeadline);
  EXPECT_EQ(Opener().TakeTurn("broken.example", Soon(), -1), THostPace::TTurn::Taken);
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
