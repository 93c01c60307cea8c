#include "RemoveCommand.h"

#include <cstdio>
#include <stdexcept>

#include "CommandOutput.h"
#include "FileArguments.h"
#include "common/TextUtil.h"
#include "common/uPubFunc.h"

namespace {
constexpr char Usage[] =
    "Usage: signtool remove /s [/q] [/v] <filename(s)>\n"
    "\n"
    "/s   Remove the signature (with its nested signatures) from PE and cabinet files.\n"
    "/q   No output on success and minimal output on failure.\n"
    "/v   Print a summary.\n";
}  // namespace

int RunRemove(const std::vector<std::string>& Arguments) {
  bool Signature = false, Quiet = false, Verbose = false;
  std::size_t I = 0;
  for (; I < Arguments.size(); ++I) {
    const std::string Word = AsciiLower(Arguments[I]);
    if (Word == "/?" || Word == "-?") {
      std::fputs(Usage, stdout);
      return ExitSuccess;
    }
    if (Word == "/s" || Word == "-s") Signature = true;
    else if (Word == "/q" || Word == "-q") Quiet = true;
    else if (Word == "/v" || Word == "-v") Verbose = true;
    else break;
  }
  if (!Signature) {
    PrintError(Say(TMessage::RemoveNeedsSignature));
    return ExitFailure;
  }
  const TFileArguments Files =
      ExpandFileArguments(std::vector<std::string>(Arguments.begin() + static_cast<std::ptrdiff_t>(I), Arguments.end()));
  if (!Files.Error.empty()) {
    PrintError(Files.Error);
    return ExitFailure;
  }
  int Removed = 0, Errors = 0;
  for (const std::string& File : Files.Files) {
    std::string Why;
    bool Done = false;
    try {
      Done = StripSignature(File, Why);
    } catch (const std::runtime_error& Failure) {
      Why = Failure.what();
    }
    if (!Done) {
      ++Errors;
      PrintError(Say(TMessage::RemoveFailed, {MarkedTextIn(OutputLanguage(), Why), File}));
      continue;
    }
    ++Removed;
    if (!Quiet) PrintLine(TMessage::Removed, {File});
  }
  if (Verbose) PrintCounts({{TMessage::RemovedCount, Removed}, {TMessage::ErrorCount, Errors}});
  return ExitCodeOf(Errors, 0);
}
