// RunAndCapture: starts a program from a Windows-style command line, without a shell, and keeps
// the beginning of what it writes to its standard error.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/WindowsCommandLine.h"
#include "common/uPubFunc.h"

extern char** environ;

namespace {
constexpr std::size_t MaxErrorBytes = 512;
// Only used when the kernel gives no process descriptor to wait on together with the pipe.
constexpr int ExitCheckIntervalMs = 20;

std::mutex RunMutex;  // one child at a time

class TFd {
 public:
  explicit TFd(int Fd = -1) : Descriptor(Fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() { Close(); }
  int Get() const { return Descriptor; }
  void Close() {
    if (Descriptor >= 0) ::close(Descriptor);
    Descriptor = -1;
  }

 private:
  int Descriptor;
};

class TSpawnActions {
 public:
  TSpawnActions() { posix_spawn_file_actions_init(&Actions); }
  TSpawnActions(const TSpawnActions&) = delete;
  TSpawnActions& operator=(const TSpawnActions&) = delete;
  ~TSpawnActions() { posix_spawn_file_actions_destroy(&Actions); }
  posix_spawn_file_actions_t* Get() { return &Actions; }

 private:
  posix_spawn_file_actions_t Actions;
};

class TSpawnAttributes {
 public:
  TSpawnAttributes() { posix_spawnattr_init(&Attributes); }
  TSpawnAttributes(const TSpawnAttributes&) = delete;
  TSpawnAttributes& operator=(const TSpawnAttributes&) = delete;
  ~TSpawnAttributes() { posix_spawnattr_destroy(&Attributes); }
  posix_spawnattr_t* Get() { return &Attributes; }

 private:
  posix_spawnattr_t Attributes;
};

// A descriptor that becomes readable when the process ends, or -1 on kernels without one.
int OpenProcessFd(pid_t Process) { return static_cast<int>(::syscall(SYS_pidfd_open, Process, 0)); }

bool IsRegularFile(const std::string& Path) {
  struct stat Info;
  return ::stat(Path.c_str(), &Info) == 0 && S_ISREG(Info.st_mode);
}

std::string OwnFolder() {
  char Buffer[PATH_MAX];
  const ssize_t Length = ::readlink("/proc/self/exe", Buffer, sizeof(Buffer));
  if (Length <= 0) return {};
  const std::string Path(Buffer, static_cast<std::size_t>(Length));
  const std::size_t Slash = Path.rfind('/');
  return Slash == std::string::npos ? std::string() : Path.substr(0, Slash);
}

std::string CurrentFolder() {
  char Buffer[PATH_MAX];
  return ::getcwd(Buffer, sizeof(Buffer)) ? std::string(Buffer) : std::string();
}

// The first regular file named Name in the program's own folder, the current folder, then the
// folders of PATH. A name with a folder in it is taken as it is.
std::optional<std::string> FindProgram(const std::string& Name) {
  if (Name.empty()) return std::nullopt;
  if (Name.find('/') != std::string::npos) {
    if (IsRegularFile(Name)) return Name;
    return std::nullopt;
  }
  std::vector<std::string> Folders{OwnFolder(), CurrentFolder()};
  if (const char* Path = std::getenv("PATH")) {
    const std::string List(Path);
    std::size_t Start = 0;
    while (Start <= List.size()) {
      std::size_t End = List.find(':', Start);
      if (End == std::string::npos) End = List.size();
      if (End > Start) Folders.push_back(List.substr(Start, End - Start));
      Start = End + 1;
    }
  }
  for (const std::string& Folder : Folders) {
    if (Folder.empty()) continue;
    std::string Candidate = Folder + "/" + Name;
    if (IsRegularFile(Candidate)) return Candidate;
  }
  return std::nullopt;
}

// Starts the child with standard input and output on the null device, standard error on
// ErrorWrite and no other descriptors, default signal handling and nothing blocked.
std::optional<pid_t> StartChild(const std::string& Program, const std::vector<std::string>& Arguments,
                                int ErrorWrite) {
  TSpawnActions Actions;
  posix_spawn_file_actions_addopen(Actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(Actions.Get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(Actions.Get(), ErrorWrite, STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(Actions.Get(), STDERR_FILENO + 1);

  TSpawnAttributes Attributes;
  sigset_t NoSignals;
  sigset_t AllSignals;
  sigemptyset(&NoSignals);
  sigfillset(&AllSignals);
  posix_spawnattr_setsigmask(Attributes.Get(), &NoSignals);
  posix_spawnattr_setsigdefault(Attributes.Get(), &AllSignals);
  posix_spawnattr_setflags(Attributes.Get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> Argv;
  for (const std::string& Argument : Arguments) Argv.push_back(const_cast<char*>(Argument.c_str()));
  Argv.push_back(nullptr);

  pid_t Child = 0;
  // glibc reports a failed exec here and reaps that child itself.
  if (posix_spawn(&Child, Program.c_str(), Actions.Get(), Attributes.Get(), Argv.data(), environ) != 0)
    return std::nullopt;
  return Child;
}

void Reap(pid_t Child) {
  int Status = 0;
  while (::waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
  }
}

bool HasExited(pid_t Child) {
  int Status = 0;
  pid_t Result;
  do {
    Result = ::waitpid(Child, &Status, WNOHANG);
  } while (Result < 0 && errno == EINTR);
  return Result != 0;  // reaped, or no such child left to wait for
}

enum class TDrain { Open, Closed, Failed };

// Reads what the pipe holds now, keeping the first MaxErrorBytes bytes in Kept. While the child
// runs everything is read, so that it never blocks; afterwards reading may stop once Kept is full.
TDrain DrainPipe(int Fd, std::string& Kept, bool StopWhenFull = false) {
  char Buffer[4096];
  for (;;) {
    if (StopWhenFull && Kept.size() == MaxErrorBytes) return TDrain::Open;
    const ssize_t Count = ::read(Fd, Buffer, sizeof(Buffer));
    if (Count > 0) {
      const std::size_t Room = MaxErrorBytes - Kept.size();
      Kept.append(Buffer, std::min(Room, static_cast<std::size_t>(Count)));
      continue;
    }
    if (Count == 0) return TDrain::Closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return TDrain::Open;
    return TDrain::Failed;
  }
}

// Waits for the child to end while draining its error stream, so that it can never block on a
// full pipe. The child is reaped in every case; false when the stream could not be read.
bool WaitAndCollect(pid_t Child, TFd& ErrorRead, std::string& Kept) {
  TFd ProcessFd(OpenProcessFd(Child));
  bool PipeOpen = true;
  for (;;) {
    pollfd Watched[2] = {{PipeOpen ? ErrorRead.Get() : -1, POLLIN, 0}, {ProcessFd.Get(), POLLIN, 0}};
    const int Timeout = ProcessFd.Get() >= 0 ? -1 : ExitCheckIntervalMs;
    if (::poll(Watched, 2, Timeout) < 0 && errno != EINTR) break;
    if (PipeOpen) {
      const TDrain State = DrainPipe(ErrorRead.Get(), Kept);
      if (State == TDrain::Failed) break;
      PipeOpen = State == TDrain::Open;
    }
    if (HasExited(Child)) {
      // Whatever the child wrote before it ended is in the pipe now. A grandchild that keeps the
      // pipe open, or keeps writing to it, does not hold us up.
      return !PipeOpen || DrainPipe(ErrorRead.Get(), Kept, true) != TDrain::Failed;
    }
  }
  // The stream cannot be read: closing our end lets a writing child fail instead of block.
  ErrorRead.Close();
  Reap(Child);
  return false;
}
}  // namespace

bool RunAndCapture(const std::string& CommandLine, std::string& ErrorText) {
  const std::lock_guard<std::mutex> Lock(RunMutex);
  const std::vector<std::string> Arguments = SplitCommandLine(CommandLine);
  if (Arguments.empty()) return false;
  const std::optional<std::string> Program = FindProgram(Arguments.front());
  if (!Program) return false;

  int Ends[2];
  if (::pipe2(Ends, O_CLOEXEC) != 0) return false;
  TFd ErrorRead(Ends[0]);
  TFd ErrorWrite(Ends[1]);
  const std::optional<pid_t> Child = StartChild(*Program, Arguments, ErrorWrite.Get());
  ErrorWrite.Close();  // the child holds its own copy; EOF comes when it closes that
  if (!Child) return false;
  if (::fcntl(ErrorRead.Get(), F_SETFL, O_NONBLOCK) != 0) {
    ErrorRead.Close();
    Reap(*Child);
    return false;
  }

  std::string Kept;
  if (!WaitAndCollect(*Child, ErrorRead, Kept)) return false;
  const std::string Text = Kept.substr(0, Kept.find('\0'));
  if (Text.empty()) return true;
  ErrorText = Text;
  return false;
}
