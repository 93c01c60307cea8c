#pragma once
// Reading a small settings file whole, without ever waiting on or reading from something that
// only looks like one: a named pipe, a device or a folder under the file's name is not opened.
#include <cstddef>
#include <string>

enum class TSmallFileRead { Read, Missing, Unreadable };

// Reads Path (a symbolic link is followed) into Content. Missing: nothing is there, or a link
// leads nowhere. Unreadable: not a regular file, bigger than MaxBytes, or the system refused.
TSmallFileRead ReadSmallFile(const std::string& Path, std::size_t MaxBytes, std::string& Content);
