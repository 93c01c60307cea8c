#pragma once
// The shared routines every part of Quillory uses. Strings are UTF-8.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

enum TPromptKind : std::uint8_t { pkInfo, pkQuestion, pkWarning, pkError };

// Shows a modal message box (no owner window) and returns the pressed button: 1 OK, 6 Yes, 7 No.
// An empty Caption takes the kind's title. Safe to call from any thread.
int ShowPrompt(const std::string& Text, const std::string& Caption, TPromptKind Kind);

// Runs CommandLine hidden and returns true when the child wrote nothing to its standard error.
// ErrorText receives the first bytes of the error stream when there were any; it is left alone
// when the program cannot be started.
bool RunAndCapture(const std::string& CommandLine, std::string& ErrorText);
// The same, with variables (name, value) set in the child's environment over the inherited ones.
bool RunAndCapture(const std::string& CommandLine, const std::vector<std::pair<std::string, std::string>>& Environment,
                   std::string& ErrorText);
// The same, the child reading InputFile, an open descriptor, as its standard input.
bool RunAndCapture(const std::string& CommandLine, const std::vector<std::pair<std::string, std::string>>& Environment,
                   int InputFile, std::string& ErrorText);

// Removes the Authenticode certificate table from a PE file. False with a message in ErrorText
// leaves the file untouched; throws std::runtime_error when the file cannot be written back.
bool StripSignature(const std::string& Path, std::string& ErrorText);

bool IsShortcut(const std::string& Ext);
// The target of the shell link Path, or Path unchanged when it is no readable link.
std::string ResolveShortcut(const std::string& Path);

// Opens a modeless window with the file's general facts and digital signatures.
void ShowFileProperties(const std::string& Path);
