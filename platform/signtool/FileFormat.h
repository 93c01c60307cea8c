#pragma once
// Whether a file is of a kind Authenticode signatures are made for.
#include <string>

// By content, read from the open file Fd: PE images, cabinets, Windows Installer packages,
// catalogs, app packages; by Name: the script kinds. A file that cannot be read is not recognised.
bool IsSignableFormat(const std::string& Name, int Fd);
