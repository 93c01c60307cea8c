#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/WindowsCommandLine.h"
#include "common/uPubFunc.h"
#include "support/ScopedEnvironment.h"

namespace {
// A command line that runs Script with sh, found on PATH like any other program.
std::string Shell(const std::string& Script) { return "sh -c " + QuoteArgument(Script); }

std::string Numbers(int Count) {
  std::string Text;
  for (int I = 0; I < Count; ++I) {
    char Item[8];
    std::snprintf(Item, sizeof(Item), "%04d,", I);
    Text += Item;
  }
  return Text;
}

void WriteScript(const std::string& Path, const std::string& Body, mode_t Mode = 0755) {
  std::ofstream(Path) << "#!/bin/sh\n" << Body << "\n";
  ::chmod(Path.c_str(), Mode);
}

int OpenDescriptorCount() {
  int Count = 0;
  for ([[maybe_unused]] const auto& Entry : std::filesystem::directory_iterator("/proc/self/fd")) ++Count;
  return Count;
}

// Sets the current folder and PATH for one test and puts them back afterwards.
class TSearchEnvironment {
 public:
  TSearchEnvironment(const std::string& Folder, const std::string& Path) : FSearchPath("PATH", Path) {
    std::filesystem::current_path(Folder);
  }
  ~TSearchEnvironment() { std::filesystem::current_path(FOldFolder); }

 private:
  std::filesystem::path FOldFolder = std::filesystem::current_path();
  TScopedEnvironment FSearchPath;
};
}  // namespace

TEST(RunAndCapture, TheErrorStreamDecidesWhenTheChildEndedNormally) {
  std::string ErrorText = "as before";
  EXPECT_TRUE(RunAndCapture(Shell("echo lots of output; exit 0"), ErrorText));
  EXPECT_EQ(ErrorText, "as before");

  EXPECT_FALSE(RunAndCapture(Shell("printf x >&2; exit 0"), ErrorText));
  EXPECT_EQ(ErrorText, "x");

  EXPECT_FALSE(RunAndCapture(Shell("printf 'line 1\\nline 2\\n' >&2; exit 1"), ErrorText));
  EXPECT_EQ(ErrorText, "line 1\nline 2\n");
}

TEST(RunAndCapture, KeepsTheFirst512Bytes) {
  std::string ErrorText;
  const std::string Script = "i=0; while [ $i -lt 400 ]; do printf '%04d,' $i; i=$((i+1)); done >&2";
  EXPECT_FALSE(RunAndCapture(Shell(Script), ErrorText));
  EXPECT_EQ(ErrorText, Numbers(400).substr(0, 512));
}

TEST(RunAndCapture, ChildWritingOneMebibyteDoesNotBlock) {
  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(Shell("head -c 1048576 /dev/zero | tr '\\000' z >&2; printf END >&2"),
                             ErrorText));
  EXPECT_EQ(ErrorText, std::string(512, 'z'));
}

TEST(RunAndCapture, TextEndsAtTheFirstZeroByte) {
  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(Shell("printf 'ab\\000cd' >&2"), ErrorText));
  EXPECT_EQ(ErrorText, "ab");

  // Text that begins with a zero byte is no clean run, though nothing readable is left of it.
  EXPECT_FALSE(RunAndCapture(Shell("printf '\\000after' >&2"), ErrorText));
  EXPECT_EQ(ErrorText, "The error output of sh begins with a zero byte.");
}

TEST(RunAndCapture, SilentFailuresAreFailuresThatSayWhatHappened) {
  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(Shell("echo lots of output; exit 3"), ErrorText));
  EXPECT_EQ(ErrorText, "sh exited with code 3 without an error message.");

  EXPECT_FALSE(RunAndCapture(Shell("kill -KILL $$"), ErrorText));
  EXPECT_EQ(ErrorText, "sh was ended by signal SIGKILL.");

  EXPECT_FALSE(RunAndCapture(Shell("kill -SEGV $$"), ErrorText));
  EXPECT_EQ(ErrorText, "sh was ended by signal SIGSEGV.");

  // What the child said before it died is its message.
  EXPECT_FALSE(RunAndCapture(Shell("printf 'half a message' >&2; kill -TERM $$"), ErrorText));
  EXPECT_EQ(ErrorText, "half a message");
}

TEST(RunAndCapture, ChildStartsWithDefaultSignalHandlingAndNothingBlocked) {
  // A handler or a blocked signal in the caller must not carry over into the child.
  struct sigaction Ignore {};
  Ignore.sa_handler = SIG_IGN;
  struct sigaction Previous {};
  ASSERT_EQ(::sigaction(SIGTERM, &Ignore, &Previous), 0);
  sigset_t Hup, OldMask;
  sigemptyset(&Hup);
  sigaddset(&Hup, SIGHUP);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &Hup, &OldMask), 0);
  std::string ErrorText;
  const bool Clean = RunAndCapture(Shell("grep -E '^Sig(Blk|Ign)' /proc/self/status >&2"), ErrorText);
  ::pthread_sigmask(SIG_SETMASK, &OldMask, nullptr);
  ::sigaction(SIGTERM, &Previous, nullptr);
  EXPECT_FALSE(Clean);
  EXPECT_EQ(ErrorText, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST(RunAndCapture, ProgramThatCannotStartLeavesErrorTextAlone) {
  QTemporaryDir Folder;
  const std::string NotExecutable = Folder.filePath("not-executable").toStdString();
  WriteScript(NotExecutable, "echo never >&2", 0644);
  const std::string Directory = Folder.filePath("a-directory").toStdString();
  std::filesystem::create_directory(Directory);

  for (const std::string& CommandLine :
       {std::string("quillory-no-such-program arg"), NotExecutable, Directory,
        Folder.filePath("missing").toStdString(), std::string(), std::string("   ")}) {
    std::string ErrorText = "as before";
    EXPECT_FALSE(RunAndCapture(CommandLine, ErrorText)) << CommandLine;
    EXPECT_EQ(ErrorText, "as before") << CommandLine;
  }
}

TEST(RunAndCapture, ArgumentsArriveAsTheWindowsRulesSplitThem) {
  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(
      R"(sh -c "printf '[%s]' \"$@\" >&2" sh "a b" c\"d "" 中文 "x\\" tail\)", ErrorText));
  EXPECT_EQ(ErrorText, R"([a b][c"d][][中文][x\][tail\])");
}

TEST(RunAndCapture, ChildGetsOnlyNullInputOutputAndThePipe) {
  // A descriptor the caller left inheritable must not reach the child.
  const int Stray = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(Stray, 0);
  const int Before = OpenDescriptorCount();
  std::string ErrorText;
  // The inner shell looks at the outer one, whose own descriptors no redirection has touched.
  EXPECT_FALSE(RunAndCapture(Shell("sh -c 'cd /proc/$PPID/fd && ls >&2 && readlink 0 1 >&2'; true"),
                             ErrorText));
  EXPECT_EQ(ErrorText, "0\n1\n2\n/dev/null\n/dev/null\n");
  EXPECT_EQ(OpenDescriptorCount(), Before);
  ::close(Stray);
}

TEST(RunAndCapture, ReturnsWhenTheChildEndsEvenIfAGrandchildHoldsThePipe) {
  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(Shell("sleep 120 & printf %s $! >&2"), ErrorText));
  const pid_t Grandchild = std::atoi(ErrorText.c_str());
  ASSERT_GT(Grandchild, 0) << ErrorText;
  EXPECT_EQ(::kill(Grandchild, 0), 0) << "the runner waited for the grandchild";
  ::kill(Grandchild, SIGKILL);

  // A grandchild that writes without end must not keep the runner reading; it ends itself once
  // the runner has closed the pipe.
  EXPECT_FALSE(RunAndCapture(Shell("yes >&2 & printf y >&2"), ErrorText));
  EXPECT_EQ(ErrorText.substr(0, 1), "y");
}

TEST(RunAndCapture, SearchesOwnFolderThenCurrentFolderThenPath) {
  const std::string Name = "quillory-search-probe-" + std::to_string(::getpid());
  const std::string OwnCopy = QCoreApplication::applicationDirPath().toStdString() + "/" + Name;
  QTemporaryDir Current, OnPath;
  const std::string CurrentCopy = Current.filePath(QString::fromStdString(Name)).toStdString();
  const std::string PathCopy = OnPath.filePath(QString::fromStdString(Name)).toStdString();
  WriteScript(OwnCopy, "printf own >&2");
  WriteScript(CurrentCopy, "printf current >&2");
  WriteScript(PathCopy, "printf path >&2");
  TSearchEnvironment Environment(Current.path().toStdString(),
                                 OnPath.path().toStdString() + ":" + std::getenv("PATH"));

  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(Name + " arg", ErrorText));
  EXPECT_EQ(ErrorText, "own");
  std::filesystem::remove(OwnCopy);
  EXPECT_FALSE(RunAndCapture(Name + " arg", ErrorText));
  EXPECT_EQ(ErrorText, "current");
  std::filesystem::remove(CurrentCopy);
  EXPECT_FALSE(RunAndCapture(Name + " arg", ErrorText));
  EXPECT_EQ(ErrorText, "path");
  std::filesystem::remove(PathCopy);
  ErrorText = "as before";
  EXPECT_FALSE(RunAndCapture(Name + " arg", ErrorText));
  EXPECT_EQ(ErrorText, "as before");
}

TEST(RunAndCapture, RunsSideBySideEachWithItsOwnErrorStream) {
  // Four children from four threads, each writing its own text while the others run.
  std::vector<std::string> Texts(4);
  std::vector<std::thread> Workers;
  for (std::size_t I = 0; I < Texts.size(); ++I)
    Workers.emplace_back([&Texts, I] {
      const std::string Own = "child" + std::to_string(I);
      RunAndCapture(Shell("printf " + Own + "- >&2; sleep 0.3; printf " + Own + " >&2"), Texts[I]);
    });
  for (std::thread& Worker : Workers) Worker.join();
  for (std::size_t I = 0; I < Texts.size(); ++I)
    EXPECT_EQ(Texts[I], "child" + std::to_string(I) + "-child" + std::to_string(I));
}
