// signtool.exe: signs program files with an Authenticode signature, in this process, with one key
// session for all the files of a run, and reports in the manner of Microsoft's signtool, so that
// Quillory can run it per file; adds timestamps to signed files later; verifies and removes
// signatures as the window does.
#include <cstdio>
#include <string>
#include <vector>

#include "CommandOutput.h"
#include "RemoveCommand.h"
#include "SignCommand.h"
#include "TimestampCommand.h"
#include "VerifyCommand.h"
#include "common/TextUtil.h"

namespace {
constexpr char Usage[] =
    "Usage: signtool <command> [options]\n"
    "\n"
    "\tValid commands:\n"
    "\t\tsign       --  Sign files using an embedded signature.\n"
    "\t\ttimestamp  --  Timestamp previously-signed files.\n"
    "\t\tverify     --  Verify embedded signatures.\n"
    "\t\tremove     --  Remove signatures from files.\n"
    "\n"
    "For help on a specific command, enter \"signtool <command> /?\"\n";

bool IsHelp(const std::string& Word) { return Word == "/?" || Word == "-?" || Word == "--help"; }
}  // namespace

int main(int Argc, char** Argv) {
  const std::vector<std::string> Arguments(Argv + 1, Argv + Argc);
  if (Arguments.empty()) {
    PrintError(Say(TMessage::MissingParameter));
    std::fputs(Usage, stderr);
    return ExitFailure;
  }
  if (IsHelp(Arguments[0])) {
    std::fputs(Usage, stdout);
    return ExitSuccess;
  }
  const std::string Command = AsciiLower(Arguments[0]);
  const std::vector<std::string> Rest(Arguments.begin() + 1, Arguments.end());
  if (Command == "sign") return RunSign(Rest, Argv, 2);
  if (Command == "timestamp") return RunTimestamp(Rest);
  if (Command == "verify") return RunVerify(Rest);
  if (Command == "remove") return RunRemove(Rest);
  PrintError(Say(TMessage::InvalidCommand, {Arguments[0]}));
  return ExitFailure;
}
