#pragma once
#include <string>

// Where config.ini lives: beside the program, or in the user's configuration folder when the
// program's folder cannot be written.
std::string ConfigFilePath();

// [Options] VerifyTrustFile: a PEM file of further trusted certificates. A relative name is
// taken from the program's folder; empty when not set.
std::string ConfiguredVerifyTrustFile(const std::string& ConfigFile);
