#pragma once
#include <string>

// Where config.ini lives: beside the program, or in the user's configuration folder when the
// program's folder cannot be written.
std::string ConfigFilePath();
