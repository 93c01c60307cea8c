#pragma once
// Running a program as a child process without a shell, feeding its input and draining what it
// writes while it runs, so that it can never block on a full pipe.
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TRunRequest {
  std::string Program;                 // the file to execute
  std::vector<std::string> Arguments;  // the child's argument vector, its own name first
  // Variables (name, value) set in the child's environment over the ones it inherits.
  using TVariables = std::vector<std::pair<std::string, std::string>>;
  TVariables Environment;
  std::optional<std::string> Input;    // written to its standard input, else the null device
  // Input as a file in memory rather than a stream, so that the child can also open it by name
  // (/dev/stdin), which a socket does not allow.
  bool InputAsFile = false;
  int InputFile = -1;  // an open file the child reads as its standard input, instead of Input
  bool KeepOutput = false;             // standard output kept; else it goes to the null device
  bool OutputWithErrors = false;       // standard output into the error stream, as written
  std::size_t MaxKeptBytes = 64 * 1024;  // of each stream; the rest is read and dropped
  std::optional<std::chrono::steady_clock::time_point> Deadline;  // the child is killed then
  // Descriptors watched together with the child's streams; each OnReady runs when its descriptor
  // is readable. One may throw to give up the run: the child is killed and reaped first.
  struct TWatch {
    int Descriptor;
    std::function<void()> OnReady;
  };
  std::vector<TWatch> Watches;
};

struct TRunResult {
  enum class TEnd { NotStarted, Exited, Signalled, TimedOut, Unreadable };
  TEnd End = TEnd::NotStarted;
  int StartError = 0;  // errno of the failed start
  int ExitCode = 0;    // for Exited
  int Signal = 0;      // for Signalled
  std::string Output;  // standard output, when kept
  std::string Errors;  // standard error (with the output, when merged)

  bool Succeeded() const { return End == TEnd::Exited && ExitCode == 0; }
};

// Starts the child with only its three standard streams open, default signal handling, nothing
// blocked, and killed by the system should the calling thread end before it. The child is reaped
// before this returns, whatever happens; at the deadline it is killed. Once the child has ended,
// its streams are read only as far as they hold data and the kept text has room, so that a
// grandchild holding them open does not hold up the caller.
TRunResult RunProcess(const TRunRequest& Request);

// The first regular file named Name in Folders, in order; a name with a slash in it is taken as
// it is when it names a regular file.
std::optional<std::string> FindProgram(const std::string& Name, const std::vector<std::string>& Folders);
// The folders of the PATH variable, in order.
std::vector<std::string> PathFolders();

// "SIGKILL" and the like; the number when the signal has no name.
std::string SignalName(int Signal);
