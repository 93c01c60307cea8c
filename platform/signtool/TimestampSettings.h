#pragma once
// What the commands that ask for timestamps share: the client's settings and pace from the
// command line and the environment, and the verbose report of failed tries.
#include <optional>
#include <string>
#include <vector>

#include "SignOptions.h"
#include "authenticode/HostPace.h"
#include "authenticode/TimestampClient.h"

// The servers of /tr, else of /t, as typed.
std::string TimestampServersOf(const TSignOptions& Options);
// The protocol by /t or /tr, /td's digest, how long to wait between rounds, and the interruption.
TTimestampSettings TimestampSettingsOf(const TSignOptions& Options);
// The pace of the run's timestamp requests: the batch's when the environment names its pace
// file, else one of this run alone. False, after saying why, when the named file cannot be used.
bool OpenPace(std::optional<THostPace>& Pace);
void PrintTimestampFailures(const std::vector<TTimestampFailure>& Failures);
