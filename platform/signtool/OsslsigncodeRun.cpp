#include "OsslsigncodeRun.h"

#include <cerrno>

namespace {
constexpr std::size_t MaxOutputBytes = 64 * 1024;
}  // namespace

TRunResult RunOsslsigncode(const std::vector<std::string>& Arguments, const std::optional<std::string>& Input,
                           std::chrono::steady_clock::time_point Deadline,
                           std::vector<TRunRequest::TWatch> Watches, int InputFile) {
  const std::optional<std::string> Program = FindProgram("osslsigncode", PathFolders());
  if (!Program) {
    TRunResult NotFound;
    NotFound.StartError = ENOENT;
    return NotFound;
  }
  TRunRequest Request;
  Request.Program = *Program;
  Request.Arguments = {"osslsigncode"};
  Request.Arguments.insert(Request.Arguments.end(), Arguments.begin(), Arguments.end());
  Request.Input = Input;
  Request.InputAsFile = true;  // "-pkcs12 /dev/stdin" opens it
  Request.InputFile = InputFile;
  Request.OutputWithErrors = true;
  Request.MaxKeptBytes = MaxOutputBytes;
  Request.Deadline = Deadline;
  Request.Watches = std::move(Watches);
  return RunProcess(Request);
}
