#pragma once
// The pace file a batch's processes share (HostPace.h), and the variables that name it and the
// least gap between two requests to one host to each of them.
#include <string>

#include "common/Descriptor.h"

inline constexpr const char* TimestampPaceVariable = "QUILLORY_TIMESTAMP_PACE";
inline constexpr const char* TimestampIntervalVariable = "QUILLORY_TIMESTAMP_INTERVAL";  // milliseconds

struct TPaceFileOpening {
  TDescriptor File;     // open for reading and writing; closed when the file was refused
  std::string Problem;  // why it was refused, in English
};

// Opens the pace file at Path. Another user could otherwise steer or stall this process's
// requests, so only a regular file of this user that no one else may read or write is taken,
// and a link is not followed.
TPaceFileOpening OpenPaceFile(const std::string& Path);
