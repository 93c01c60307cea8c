// RunAndCapture: starts a program from a Windows-style command line, without a shell, and keeps
// the beginning of what it writes to its standard error.
#include <limits.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "common/ProcessRunner.h"
#include "common/TextUtil.h"
#include "common/WindowsCommandLine.h"
#include "common/uPubFunc.h"

namespace {
constexpr std::size_t MaxErrorBytes = 512;

std::string OwnFolder() {
  char Buffer[PATH_MAX];
  const ssize_t Length = ::readlink("/proc/self/exe", Buffer, sizeof(Buffer));
  if (Length <= 0) return {};
  return FolderOf(std::string(Buffer, static_cast<std::size_t>(Length)));
}

std::string CurrentFolder() {
  char Buffer[PATH_MAX];
  return ::getcwd(Buffer, sizeof(Buffer)) ? std::string(Buffer) : std::string();
}

// Why a run that left its error stream empty (or starting with a zero byte) still failed, or
// empty when it did not. Worded like the tool messages it stands in for.
std::string SilentFailure(const std::string& Name, const TRunResult& Run) {
  switch (Run.End) {
    case TRunResult::TEnd::Signalled:
      return Name + " was ended by signal " + SignalName(Run.Signal) + ".";
    case TRunResult::TEnd::Unreadable:
      return "The error output of " + Name + " could not be read.";
    case TRunResult::TEnd::Exited:
      if (Run.ExitCode != 0)
        return Name + " exited with code " + std::to_string(Run.ExitCode) + " without an error message.";
      break;
    case TRunResult::TEnd::NotStarted:
    case TRunResult::TEnd::TimedOut:
      break;
  }
  if (!Run.Errors.empty() && Run.Errors.front() == '\0')
    return "The error output of " + Name + " begins with a zero byte.";
  return {};
}
}  // namespace

bool RunAndCapture(const std::string& CommandLine, std::string& ErrorText) {
  return RunAndCapture(CommandLine, {}, ErrorText);
}

bool RunAndCapture(const std::string& CommandLine, const std::vector<std::pair<std::string, std::string>>& Environment,
                   std::string& ErrorText) {
  return RunAndCapture(CommandLine, Environment, -1, ErrorText);
}

bool RunAndCapture(const std::string& CommandLine, const std::vector<std::pair<std::string, std::string>>& Environment,
                   int InputFile, std::string& ErrorText) {
  const std::vector<std::string> Arguments = SplitCommandLine(CommandLine);
  if (Arguments.empty()) return false;
  std::vector<std::string> Folders{OwnFolder(), CurrentFolder()};
  for (std::string& Folder : PathFolders()) Folders.push_back(std::move(Folder));
  const std::optional<std::string> Program = FindProgram(Arguments.front(), Folders);
  if (!Program) return false;

  TRunRequest Request;
  Request.Program = *Program;
  Request.Arguments = Arguments;
  Request.Environment = Environment;
  Request.InputFile = InputFile;
  Request.MaxKeptBytes = MaxErrorBytes;
  const TRunResult Run = RunProcess(Request);
  if (Run.End == TRunResult::TEnd::NotStarted) return false;

  const std::string Text = Run.Errors.substr(0, Run.Errors.find('\0'));
  if (!Text.empty()) {
    ErrorText = Text;
    return false;
  }
  const std::string Failure = SilentFailure(Arguments.front(), Run);
  if (Failure.empty()) return true;
  ErrorText = Failure;
  return false;
}
