#pragma once
// How every command of signtool.exe reports: results on standard output, errors and warnings on
// standard error in signtool's form, and signtool's exit codes. The texts are in the user's
// language (LanguageOfEnvironment); the prefixes, which callers read, are not.
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/MessageCatalogue.h"

constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;
constexpr int ExitWarning = 2;  // every file done, some with a warning

// The language of this run's messages.
TMessageLanguage OutputLanguage();
// Message in that language, as MessageText words it.
std::string Say(TMessage Message, std::initializer_list<std::string_view> Arguments = {});
// A line of Message on standard output.
void PrintLine(TMessage Message, std::initializer_list<std::string_view> Arguments = {});

struct TCount {
  TMessage Message;  // with %1 for the number
  int Value;
};
// A blank line, then a line for each count: the summary /v ends with.
void PrintCounts(std::initializer_list<TCount> Counts);

void PrintError(const std::string& Text);    // "SignTool Error: <Text>"
void PrintWarning(const std::string& Text);  // "SignTool Warning: <Text>"
// The exit code of a run with these counts.
int ExitCodeOf(int Errors, int Warnings);
