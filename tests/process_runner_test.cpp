// The process runner behind RunAndCapture and signtool.exe's osslsigncode runs.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>

#include "common/ProcessRunner.h"
#include "support/ScopedEnvironment.h"

namespace {
TRunRequest Shell(const std::string& Script) {
  TRunRequest Request;
  Request.Program = "/bin/sh";
  Request.Arguments = {"sh", "-c", Script};
  return Request;
}

bool IsAlive(pid_t Process) { return ::kill(Process, 0) == 0; }

TEST(RunProcess, InputReachesTheChildAndBothStreamsComeBack) {
  TRunRequest Request = Shell("read -r Line; printf 'out:%s' \"$Line\"; printf 'err:%s' \"$Line\" >&2");
  Request.Input = "secret\n";
  Request.KeepOutput = true;
  TRunResult Run = RunProcess(Request);
  EXPECT_TRUE(Run.Succeeded());
  EXPECT_EQ(Run.Output, "out:secret");
  EXPECT_EQ(Run.Errors, "err:secret");

  // Merged, the two streams keep the order they were written in.
  Request.OutputWithErrors = true;
  Run = RunProcess(Request);
  EXPECT_EQ(Run.Output, "");
  EXPECT_EQ(Run.Errors, "out:secreterr:secret");
}

TEST(RunProcess, ChildThatNeverReadsItsInputDoesNotHurtTheCaller) {
  // Much more than a socket buffer holds, to a child that has already gone: no SIGPIPE here.
  TRunRequest Request = Shell("exit 4");
  Request.Input = std::string(8 << 20, 'x');
  const TRunResult Run = RunProcess(Request);
  EXPECT_EQ(Run.End, TRunResult::TEnd::Exited);
  EXPECT_EQ(Run.ExitCode, 4);
}

TEST(RunProcess, DeadlineKillsAndReapsTheChild) {
  TRunRequest Request = Shell("printf %s $$ >&2; exec sleep 60");
  // Long enough for the shell to say its number on a busy machine (under the sanitizers, say).
  Request.Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  const TRunResult Run = RunProcess(Request);
  EXPECT_EQ(Run.End, TRunResult::TEnd::TimedOut);
  ASSERT_FALSE(Run.Errors.empty());
  const pid_t Child = std::stoi(Run.Errors);
  EXPECT_FALSE(IsAlive(Child)) << "still running, or left as a zombie";
}

TEST(RunProcess, StartFailuresCarryTheSystemError) {
  TRunRequest Request;
  Request.Program = "/nonexistent/program";
  Request.Arguments = {"program"};
  TRunResult Run = RunProcess(Request);
  EXPECT_EQ(Run.End, TRunResult::TEnd::NotStarted);
  EXPECT_EQ(Run.StartError, ENOENT);

  Request.Program = "/dev/null";
  Run = RunProcess(Request);
  EXPECT_EQ(Run.End, TRunResult::TEnd::NotStarted);
  EXPECT_EQ(Run.StartError, EACCES);
}

TEST(RunProcess, WatchedDescriptorIsServedWhileTheChildRuns) {
  int Ends[2];
  ASSERT_EQ(::pipe(Ends), 0);
  TRunRequest Request = Shell("sleep 0.3");
  int Calls = 0;
  Request.Watches.push_back({Ends[0], [&] {
                               char Byte;
                               if (::read(Ends[0], &Byte, 1) == 1) ++Calls;
                             }});
  ASSERT_EQ(::write(Ends[1], "x", 1), 1);
  EXPECT_TRUE(RunProcess(Request).Succeeded());
  EXPECT_EQ(Calls, 1);

  // A watch that gives up the run ends the child with it.
  Request = Shell("exec sleep 60");
  Request.Watches.push_back({Ends[0], [] { throw 7; }});
  ASSERT_EQ(::write(Ends[1], "x", 1), 1);
  EXPECT_THROW(RunProcess(Request), int);
  ::close(Ends[0]);
  ::close(Ends[1]);
}
TEST(RunProcess, AddedVariablesOverrideInheritedOnesOfTheSameNameOnly) {
  const TScopedEnvironment Kept("QUILLORY_TEST_KEPT", "kept"), Set("QUILLORY_TEST_SET", "inherited"),
      Setting("QUILLORY_TEST_SETTING", "longer name");
  TRunRequest Request = Shell("env | grep '^QUILLORY_TEST_' | sort");
  Request.KeepOutput = true;
  Request.Environment = {{"QUILLORY_TEST_SET", "added"}, {"QUILLORY_TEST_NEW", "a b=c"}};
  const TRunResult Run = RunProcess(Request);
  EXPECT_TRUE(Run.Succeeded()) << Run.Errors;
  EXPECT_EQ(Run.Output,
            "QUILLORY_TEST_KEPT=kept\nQUILLORY_TEST_NEW=a b=c\nQUILLORY_TEST_SET=added\n"
            "QUILLORY_TEST_SETTING=longer name\n");
  // This process keeps its own.
  EXPECT_STREQ(::getenv("QUILLORY_TEST_SET"), "inherited");
}
}  // namespace
