#pragma once
// How every command of signtool.exe reports: results on standard output, errors and warnings on
// standard error in signtool's form, and signtool's exit codes.
#include <string>

constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;
constexpr int ExitWarning = 2;  // every file done, some with a warning

void PrintError(const std::string& Text);    // "SignTool Error: <Text>"
void PrintWarning(const std::string& Text);  // "SignTool Warning: <Text>"
// The exit code of a run with these counts.
int ExitCodeOf(int Errors, int Warnings);
