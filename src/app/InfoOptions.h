#pragma once
// The options a program conventionally answers on the terminal without starting: --help and
// --version. Every other argument is left to Qt.
#include <optional>

// When the arguments ask for help or the version, prints it on standard output and gives the
// exit code; otherwise nothing. Needs no display and runs before the application object exists.
std::optional<int> AnswerInfoOptions(int Argc, char** Argv);
