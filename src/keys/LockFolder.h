#pragma once
// The folder of signtool.exe's lock files: one that only this user may enter, so that no other
// user can hold a lock or put something else in a lock file's place.
#include <string>

struct TLockFolder {
  int Descriptor = -1;  // the open folder, which the caller closes; -1 when there is none
  std::string Path;
  std::string Problem;  // without a folder: why, as the text after "SignTool Error: "
};

// $XDG_RUNTIME_DIR when it is such a folder, otherwise quillory-<uid> in $TMPDIR or /tmp, made
// for the purpose and checked to be such a folder.
TLockFolder OpenLockFolder();
