#pragma once
#include <QString>
#include <string>

// Where config.ini lives: beside the program, or in the user's configuration folder when the
// program's folder cannot be written or belongs to the system's installed software.
std::string ConfigFilePath();

// The same choice for a program in ProgramDir.
std::string ConfigFilePathFor(const QString& ProgramDir);

// [Options] VerifyTrustFile: files and folders of further trusted certificates, separated by
// ";". A relative name is taken from the program's folder; empty when not set.
std::string ConfiguredVerifyTrustFile(const std::string& ConfigFile);
