#pragma once
// Where a run's password or PIN comes from: /p on the command line (where other users may read
// it), or, kept off the command line, an environment variable (/penv) or a descriptor (/pfd).
#include <optional>
#include <string>

#include "SignOptions.h"

struct TPassword {
  std::optional<std::string> Value;  // none: no password was given
  std::string Error;                 // the text after "SignTool Error: " when it cannot be read
};

// From a descriptor: everything up to the first line break or the end, at most 64 KiB.
TPassword ReadPassword(const TSignOptions& Options);
