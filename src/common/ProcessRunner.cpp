#include "common/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "common/Descriptor.h"

extern char** environ;

namespace {
// Only used when the kernel gives no process descriptor to wait on together with the streams.
constexpr int ExitCheckIntervalMs = 20;

// The child's standard descriptors are put in place with dup2, which must never find its source
// already sitting on one of 0, 1 or 2: so every end handed over is moved above them.
int AboveStandardStreams(int Fd) {
  if (Fd < 0 || Fd > STDERR_FILENO) return Fd;
  const int Moved = ::fcntl(Fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  ::close(Fd);
  return Moved;
}

bool OpenPipe(TDescriptor& Read, TDescriptor& Write) {
  int Ends[2];
  if (::pipe2(Ends, O_CLOEXEC) != 0) return false;
  Read.Reset(AboveStandardStreams(Ends[0]));
  Write.Reset(AboveStandardStreams(Ends[1]));
  return Read.IsOpen() && Write.IsOpen();
}

// A socket rather than a pipe for the child's input: writing to it after the child has gone
// fails with EPIPE instead of raising SIGPIPE in the caller.
bool OpenInputChannel(TDescriptor& Ours, TDescriptor& Childs) {
  int Ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Ends) != 0) return false;
  Ours.Reset(AboveStandardStreams(Ends[0]));
  Childs.Reset(AboveStandardStreams(Ends[1]));
  return Ours.IsOpen() && Childs.IsOpen() && ::shutdown(Ours.Get(), SHUT_RD) == 0;
}

bool OpenMemoryFile(TDescriptor& File, const std::string& Content) {
  File.Reset(AboveStandardStreams(::memfd_create("input", MFD_CLOEXEC)));
  if (!File.IsOpen()) return false;
  std::size_t Written = 0;
  while (Written < Content.size()) {
    const ssize_t Done = ::write(File.Get(), Content.data() + Written, Content.size() - Written);
    if (Done < 0 && errno == EINTR) continue;
    if (Done <= 0) return false;
    Written += static_cast<std::size_t>(Done);
  }
  return ::lseek(File.Get(), 0, SEEK_SET) == 0;
}

bool OpenNullDevice(TDescriptor& Null, int Flags) {
  Null.Reset(AboveStandardStreams(::open("/dev/null", Flags | O_CLOEXEC)));
  return Null.IsOpen();
}

struct TChildSetup {
  const char* Program;
  char* const* Argv;
  char* const* Envp;
  int Input, Output, Errors;
  pid_t Parent;
};

// Runs in the child between vfork and exec, sharing the parent's memory: system calls only.
[[noreturn]] void BecomeChild(const TChildSetup& Setup, volatile int& StartError) {
  for (int Signal = 1; Signal < NSIG; ++Signal)
    if (Signal != SIGKILL && Signal != SIGSTOP) ::signal(Signal, SIG_DFL);
  // The parent may have died before the death signal was armed; then nobody would reap us.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != Setup.Parent) ::_exit(127);
  if (::dup2(Setup.Input, STDIN_FILENO) < 0 || ::dup2(Setup.Output, STDOUT_FILENO) < 0 ||
      ::dup2(Setup.Errors, STDERR_FILENO) < 0) {
    StartError = errno;
    ::_exit(127);
  }
  ::close_range(STDERR_FILENO + 1, ~0U, 0);
  sigset_t Nothing;
  sigemptyset(&Nothing);
  ::sigprocmask(SIG_SETMASK, &Nothing, nullptr);
  ::execve(Setup.Program, Setup.Argv, Setup.Envp);
  StartError = errno;
  ::_exit(127);
}

// vfork shares our memory with the child until it has executed the program, so a start error
// can be handed back through a variable. Signals stay blocked meanwhile so that none of our
// handlers runs in the child.
pid_t StartChild(const TChildSetup& Setup, int& Error) {
  sigset_t All, Previous;
  sigfillset(&All);
  ::pthread_sigmask(SIG_SETMASK, &All, &Previous);
  volatile int StartError = 0;
  const pid_t Child = ::vfork();
  if (Child == 0) BecomeChild(Setup, StartError);
  const int ForkError = errno;
  ::pthread_sigmask(SIG_SETMASK, &Previous, nullptr);
  if (Child < 0) {
    Error = ForkError;
    return -1;
  }
  if (StartError != 0) {
    int Status = 0;
    while (::waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
    }
    Error = StartError;
    return -1;
  }
  return Child;
}

// Owns a started child: whatever way the caller leaves, the child is killed if still running and
// reaped, so that no zombie and no orphan is left behind.
class TChild {
 public:
  explicit TChild(pid_t Id) : Id(Id), ProcessFd(static_cast<int>(::syscall(SYS_pidfd_open, Id, 0))) {}
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;
  ~TChild() {
    if (Reaped) return;
    ::kill(Id, SIGKILL);
    Wait(0);
  }
  int Descriptor() const { return ProcessFd.Get(); }
  // True once the child has ended and been reaped; Status then holds its wait status.
  bool Wait(int Flags) {
    pid_t Result;
    do {
      Result = ::waitpid(Id, &Status, Flags);
    } while (Result < 0 && errno == EINTR);
    if (Result == Id || (Result < 0 && errno == ECHILD)) Reaped = true;
    return Reaped;
  }
  void Kill() {
    ::kill(Id, SIGKILL);
    Wait(0);
  }
  int WaitStatus() const { return Status; }

 private:
  pid_t Id;
  TDescriptor ProcessFd;
  int Status = 0;
  bool Reaped = false;
};

enum class TDrain { Open, Closed, Failed };

// Reads what a stream holds now, keeping at most Limit bytes in Kept. While the child runs
// everything is read; afterwards reading may stop once Kept is full.
TDrain Drain(int Fd, std::string& Kept, std::size_t Limit, bool StopWhenFull) {
  char Buffer[4096];
  for (;;) {
    if (StopWhenFull && Kept.size() >= Limit) return TDrain::Open;
    const ssize_t Count = ::read(Fd, Buffer, sizeof(Buffer));
    if (Count > 0) {
      const std::size_t Room = Limit > Kept.size() ? Limit - Kept.size() : 0;
      Kept.append(Buffer, std::min(Room, static_cast<std::size_t>(Count)));
      continue;
    }
    if (Count == 0) return TDrain::Closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return TDrain::Open;
    return TDrain::Failed;
  }
}

int PollTimeout(const std::optional<std::chrono::steady_clock::time_point>& Deadline, bool HaveProcessFd) {
  int Timeout = HaveProcessFd ? -1 : ExitCheckIntervalMs;
  if (Deadline) {
    const auto Left =
        std::chrono::duration_cast<std::chrono::milliseconds>(*Deadline - std::chrono::steady_clock::now()).count();
    const int Capped = static_cast<int>(std::clamp<long long>(Left, 0, 60000));
    Timeout = Timeout < 0 ? Capped : std::min(Timeout, Capped);
  }
  return Timeout;
}

bool SetNonBlocking(int Fd) { return Fd < 0 || ::fcntl(Fd, F_SETFL, O_NONBLOCK) == 0; }

bool IsRegularFile(const std::string& Path) {
  struct stat Info {};
  return ::stat(Path.c_str(), &Info) == 0 && S_ISREG(Info.st_mode);
}

// The streams of one run, as seen from this side.
struct TStreams {
  TDescriptor InputOurs, InputChilds;
  TDescriptor OutputOurs, OutputChilds;
  TDescriptor ErrorsOurs, ErrorsChilds;

  bool Open(const TRunRequest& Request) {
    if (Request.InputFile >= 0) {
      InputChilds.Reset(::fcntl(Request.InputFile, F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
      if (!InputChilds.IsOpen()) return false;
    } else if (!Request.Input) {
      if (!OpenNullDevice(InputChilds, O_RDONLY)) return false;
    } else if (Request.InputAsFile ? !OpenMemoryFile(InputChilds, *Request.Input)
                                   : !OpenInputChannel(InputOurs, InputChilds)) {
      return false;
    }
    if (!OpenPipe(ErrorsOurs, ErrorsChilds)) return false;
    if (Request.KeepOutput && !Request.OutputWithErrors && !OpenPipe(OutputOurs, OutputChilds)) return false;
    if (!Request.KeepOutput && !Request.OutputWithErrors && !OpenNullDevice(OutputChilds, O_WRONLY)) return false;
    return SetNonBlocking(InputOurs.Get()) && SetNonBlocking(OutputOurs.Get()) && SetNonBlocking(ErrorsOurs.Get());
  }
  int ChildOutput() const { return OutputChilds.IsOpen() ? OutputChilds.Get() : ErrorsChilds.Get(); }
  // The child holds its own copies now; end of stream comes when it closes those.
  void CloseChildEnds() {
    InputChilds.Close();
    OutputChilds.Close();
    ErrorsChilds.Close();
  }
};

void FeedInput(TDescriptor& Input, const std::string& Text, std::size_t& Fed) {
  while (Fed < Text.size()) {
    const ssize_t Written = ::send(Input.Get(), Text.data() + Fed, Text.size() - Fed, MSG_NOSIGNAL);
    if (Written > 0) {
      Fed += static_cast<std::size_t>(Written);
      continue;
    }
    if (Written < 0 && errno == EINTR) continue;
    if (Written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    break;  // the child no longer reads
  }
  Input.Close();
}

// The inherited environment with Added put over it, as execve takes it; Kept holds the added entries.
std::vector<char*> ChildEnvironment(const TRunRequest::TVariables& Added, std::vector<std::string>& Kept) {
  std::vector<char*> Result;
  for (char** Entry = environ; *Entry != nullptr; ++Entry) {
    const std::string_view Inherited(*Entry);
    const bool Replaced = std::any_of(Added.begin(), Added.end(), [&](const auto& Variable) {
      return Inherited.size() > Variable.first.size() && Inherited.starts_with(Variable.first) &&
             Inherited[Variable.first.size()] == '=';
    });
    if (!Replaced) Result.push_back(*Entry);
  }
  for (const auto& [Name, Value] : Added) Kept.push_back(Name + "=" + Value);
  for (std::string& Entry : Kept) Result.push_back(Entry.data());
  Result.push_back(nullptr);
  return Result;
}
}  // namespace

TRunResult RunProcess(const TRunRequest& Request) {
  TRunResult Result;
  TStreams Streams;
  if (!Streams.Open(Request)) {
    Result.StartError = errno;
    return Result;
  }
  std::vector<char*> Argv;
  for (const std::string& Argument : Request.Arguments) Argv.push_back(const_cast<char*>(Argument.c_str()));
  Argv.push_back(nullptr);
  std::vector<std::string> AddedVariables;
  const std::vector<char*> Envp = ChildEnvironment(Request.Environment, AddedVariables);
  const TChildSetup Setup{Request.Program.c_str(), Argv.data(), Envp.data(), Streams.InputChilds.Get(),
                          Streams.ChildOutput(), Streams.ErrorsChilds.Get(), ::getpid()};
  const pid_t Id = StartChild(Setup, Result.StartError);
  Streams.CloseChildEnds();
  if (Id < 0) return Result;
  TChild Child(Id);

  const std::string& Input = Request.Input ? *Request.Input : std::string();
  std::size_t Fed = 0;
  if (Streams.InputOurs.IsOpen() && Input.empty()) Streams.InputOurs.Close();
  bool OutputOpen = Streams.OutputOurs.IsOpen();
  bool ErrorsOpen = true;
  for (;;) {
    std::vector<pollfd> Watched{{ErrorsOpen ? Streams.ErrorsOurs.Get() : -1, POLLIN, 0},
                                {OutputOpen ? Streams.OutputOurs.Get() : -1, POLLIN, 0},
                                {Streams.InputOurs.Get(), POLLOUT, 0},
                                {Child.Descriptor(), POLLIN, 0}};
    for (const TRunRequest::TWatch& Watch : Request.Watches) Watched.push_back({Watch.Descriptor, POLLIN, 0});
    const int Ready = ::poll(Watched.data(), Watched.size(), PollTimeout(Request.Deadline, Child.Descriptor() >= 0));
    if (Ready < 0 && errno != EINTR) {
      Child.Kill();
      Result.End = TRunResult::TEnd::Unreadable;
      return Result;
    }
    if (Watched[2].revents != 0) FeedInput(Streams.InputOurs, Input, Fed);
    for (std::size_t I = 0; I < Request.Watches.size(); ++I)
      if (Watched[4 + I].revents != 0) Request.Watches[I].OnReady();
    bool Failed = false;
    if (ErrorsOpen) {
      const TDrain State = Drain(Streams.ErrorsOurs.Get(), Result.Errors, Request.MaxKeptBytes, false);
      Failed = State == TDrain::Failed;
      ErrorsOpen = State == TDrain::Open;
    }
    if (OutputOpen) {
      const TDrain State = Drain(Streams.OutputOurs.Get(), Result.Output, Request.MaxKeptBytes, false);
      Failed = Failed || State == TDrain::Failed;
      OutputOpen = State == TDrain::Open;
    }
    if (Failed) {
      Child.Kill();
      Result.End = TRunResult::TEnd::Unreadable;
      return Result;
    }
    if (Child.Wait(WNOHANG)) break;
    if (Request.Deadline && std::chrono::steady_clock::now() >= *Request.Deadline) {
      Child.Kill();
      Result.End = TRunResult::TEnd::TimedOut;
      return Result;
    }
  }
  // Whatever the child wrote before it ended is in the streams now. A grandchild that keeps them
  // open, or keeps writing to them, does not hold us up.
  if ((ErrorsOpen && Drain(Streams.ErrorsOurs.Get(), Result.Errors, Request.MaxKeptBytes, true) == TDrain::Failed) ||
      (OutputOpen && Drain(Streams.OutputOurs.Get(), Result.Output, Request.MaxKeptBytes, true) == TDrain::Failed)) {
    Result.End = TRunResult::TEnd::Unreadable;
    return Result;
  }
  const int Status = Child.WaitStatus();
  if (WIFSIGNALED(Status)) {
    Result.End = TRunResult::TEnd::Signalled;
    Result.Signal = WTERMSIG(Status);
  } else {
    Result.End = TRunResult::TEnd::Exited;
    Result.ExitCode = WEXITSTATUS(Status);
  }
  return Result;
}

std::optional<std::string> FindProgram(const std::string& Name, const std::vector<std::string>& Folders) {
  if (Name.empty()) return std::nullopt;
  if (Name.find('/') != std::string::npos) {
    if (IsRegularFile(Name)) return Name;
    return std::nullopt;
  }
  for (const std::string& Folder : Folders) {
    if (Folder.empty()) continue;
    std::string Candidate = Folder + "/" + Name;
    if (IsRegularFile(Candidate)) return Candidate;
  }
  return std::nullopt;
}

std::vector<std::string> PathFolders() {
  std::vector<std::string> Folders;
  const char* Path = std::getenv("PATH");
  if (Path == nullptr) return Folders;
  const std::string List(Path);
  std::size_t Start = 0;
  while (Start <= List.size()) {
    std::size_t End = List.find(':', Start);
    if (End == std::string::npos) End = List.size();
    if (End > Start) Folders.push_back(List.substr(Start, End - Start));
    Start = End + 1;
  }
  return Folders;
}

std::string SignalName(int Signal) {
  if (const char* Abbreviation = ::sigabbrev_np(Signal)) return std::string("SIG") + Abbreviation;
  return std::to_string(Signal);
}
