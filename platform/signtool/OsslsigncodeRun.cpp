#include "OsslsigncodeRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {
constexpr std::size_t MaxOutputBytes = 64 * 1024;

class TPipe {
 public:
  TPipe() {
    int Ends[2];
    if (::pipe2(Ends, O_CLOEXEC) == 0) {
      Read = Ends[0];
      Write = Ends[1];
    }
  }
  ~TPipe() {
    CloseRead();
    CloseWrite();
  }
  TPipe(const TPipe&) = delete;
  TPipe& operator=(const TPipe&) = delete;
  bool IsOpen() const { return Read >= 0; }
  void CloseRead() { CloseEnd(Read); }
  void CloseWrite() { CloseEnd(Write); }

  int Read = -1;
  int Write = -1;

 private:
  static void CloseEnd(int& End) {
    if (End >= 0) ::close(End);
    End = -1;
  }
};

std::optional<pid_t> Start(const std::vector<std::string>& Arguments, int Input, int Output) {
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_adddup2(&Actions, Input, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&Actions, Output, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&Actions, Output, STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&Actions, STDERR_FILENO + 1);
  // signtool ignores SIGPIPE for itself; osslsigncode gets the usual handling back.
  posix_spawnattr_t Attributes;
  posix_spawnattr_init(&Attributes);
  sigset_t Pipe;
  sigemptyset(&Pipe);
  sigaddset(&Pipe, SIGPIPE);
  posix_spawnattr_setsigdefault(&Attributes, &Pipe);
  posix_spawnattr_setflags(&Attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> Argv{"osslsigncode"};
  Argv.insert(Argv.end(), Arguments.begin(), Arguments.end());
  std::vector<char*> Pointers;
  for (std::string& Argument : Argv) Pointers.push_back(Argument.data());
  Pointers.push_back(nullptr);

  pid_t Child = 0;
  const int Error = posix_spawnp(&Child, "osslsigncode", &Actions, &Attributes, Pointers.data(), environ);
  posix_spawnattr_destroy(&Attributes);
  posix_spawn_file_actions_destroy(&Actions);
  if (Error != 0) return std::nullopt;
  return Child;
}

int WaitFor(pid_t Child) {
  int Status = 0;
  while (::waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
  }
  return Status;
}

// Milliseconds left until Deadline for poll, or -1 (no limit).
int PollTimeout(const std::optional<std::chrono::steady_clock::time_point>& Deadline) {
  if (!Deadline) return -1;
  const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(*Deadline - std::chrono::steady_clock::now());
  return Left.count() > 0 ? static_cast<int>(Left.count()) : 0;
}
}  // namespace

TOsslsigncodeResult RunOsslsigncode(const std::vector<std::string>& Arguments,
                                    const std::optional<std::string>& Password,
                                    std::optional<std::chrono::milliseconds> TimeLimit) {
  TOsslsigncodeResult Result;
  TPipe Input, Output;
  if (!Input.IsOpen() || !Output.IsOpen()) return Result;
  const std::optional<pid_t> Child = Start(Arguments, Input.Read, Output.Write);
  Input.CloseRead();
  Output.CloseWrite();
  if (!Child) return Result;
  Result.Started = true;

  std::optional<std::chrono::steady_clock::time_point> Deadline;
  if (TimeLimit) Deadline = std::chrono::steady_clock::now() + *TimeLimit;
  const std::string Feed = Password.value_or(std::string());
  std::size_t Fed = 0;
  if (Feed.empty()) Input.CloseWrite();
  ::fcntl(Input.Write, F_SETFL, O_NONBLOCK);

  // Feed the password and collect the output until osslsigncode closes its end of the pipe.
  for (;;) {
    pollfd Watched[2] = {{Output.Read, POLLIN, 0}, {Input.Write, POLLOUT, 0}};
    const int Ready = ::poll(Watched, 2, PollTimeout(Deadline));
    if (Ready < 0 && errno == EINTR) continue;
    if (Ready == 0) {
      ::kill(*Child, SIGKILL);
      Result.TimedOut = true;
      break;
    }
    if (Ready < 0) break;
    if (Watched[1].revents != 0) {
      const ssize_t Written = ::write(Input.Write, Feed.data() + Fed, Feed.size() - Fed);
      if (Written > 0) Fed += static_cast<std::size_t>(Written);
      if (Written < 0 && errno != EAGAIN && errno != EINTR) Fed = Feed.size();  // reader gone
      if (Fed == Feed.size()) Input.CloseWrite();
    }
    if (Watched[0].revents != 0) {
      char Buffer[4096];
      const ssize_t Count = ::read(Output.Read, Buffer, sizeof(Buffer));
      if (Count == 0 || (Count < 0 && errno != EINTR && errno != EAGAIN)) break;
      if (Count > 0 && Result.Output.size() < MaxOutputBytes) Result.Output.append(Buffer, static_cast<std::size_t>(Count));
    }
  }
  Input.CloseWrite();
  Output.CloseRead();
  const int Status = WaitFor(*Child);
  Result.Succeeded = !Result.TimedOut && WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
  return Result;
}
