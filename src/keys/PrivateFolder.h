#pragma once
// A folder only this user can enter, for sockets other processes of the user connect to.
#include <filesystem>
#include <string>

struct TPrivateFolder {
  std::filesystem::path Path;  // empty when none could be had
  bool MadeForUs = false;      // a folder of our own, to be removed when done
  std::string Error;
};

// $XDG_RUNTIME_DIR when it is set and private, else a new folder (mode 0700, random name) in the
// temporary folder. Either is checked, without following a link, to be a folder of this user's
// that no one else can enter; LongestName tells how long a name inside it must fit, with the
// folder's path, in a socket address.
TPrivateFolder OpenPrivateFolder(std::size_t LongestName);

// True for a folder (not a link to one) owned by this process's effective user, closed to others.
bool IsPrivateFolder(const std::filesystem::path& Path);
