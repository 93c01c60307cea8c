#pragma once
// Adding a timestamp later to files signed without one: which rows qualify, the signtool.exe run
// that does it, and how its answer is read.
#include <string>
#include <string_view>

#include "signing/SignCommand.h"

// Whether a row's result says its file is signed but has no timestamp because no server granted
// one: the signing run's warning, or a later timestamp run that failed the same way.
bool SignedWithoutTimestamp(TFileStatus Status, std::string_view Info);

// signtool.exe timestamp /q /t "<timestamp>" <file>, quoted as SignCommandLine quotes; with
// Rfc3161 /tr "<timestamp>" /td sha256 in place of /t, as the signing runs ask.
std::string TimestampCommandLine(const std::string& TimeStamp, bool Rfc3161, std::string_view ShortPath);

// Clean run: ok. A run that only failed to get a timestamp leaves the file signed without one:
// warning, not a success. Anything else: failed.
TSignOutcome ClassifyTimestampRun(bool Clean, const std::string& ErrorText);
