#pragma once
// Whether a file is of a kind Authenticode signatures are made for.
#include <string>

// By content: PE images, cabinets, Windows Installer packages, catalogs, app packages; by name:
// the script kinds. A file that cannot be read is not recognised.
bool IsSignableFormat(const std::string& Path);
