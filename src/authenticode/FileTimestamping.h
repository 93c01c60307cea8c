#pragma once
// Adding a timestamp to a signed PE image or cabinet that has none, without signing it again:
// the primary signature gets the timestamp, and everything else in the file stays as it was (the
// signatures nested in it included, with or without timestamps of their own). The file is
// rewritten as signing rewrites it (see FileSigning.h), so its digest still holds.
#include "authenticode/FileSigning.h"

// For a file its caller has opened. Nothing is written when the file has no signature
// (Unsigned), already has a timestamp (HadTimestamp) or no server granted one (Timestamped false).
TSignFileResult TimestampOpenedFile(TFileReplacement& File, const TTimestampClient& Timestamps);
