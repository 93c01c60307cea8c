#pragma once
// The application's standard error report: an error no handler dealt with, shown with the
// error icon and an OK button under the program's name.
#include <string>
#include <string_view>

// "quillory" -> "Quillory": file name without folder, cut at its first ".", letters after the
// first lower-cased.
std::string ProgramTitle(std::string_view ProgramPath);
// The message followed by "." unless its last character is "." or sorts before it.
std::string ErrorReportText(std::string_view Message);
void ShowErrorReport(std::string_view Message);
