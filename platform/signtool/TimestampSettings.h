#pragma once
// What the commands that ask for timestamps share: the client's settings and pace from the
// command line and the environment, and the verbose report of failed tries.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SignOptions.h"
#include "authenticode/HostPace.h"
#include "authenticode/PaceFile.h"
#include "authenticode/TimestampClient.h"
#include "authenticode/TimestampServerOrder.h"

// The servers of /tr, else of /t, as typed.
std::string TimestampServersOf(const TSignOptions& Options);
// The protocol by /t or /tr, /td's digest, how long to wait between rounds, and the interruption.
TTimestampSettings TimestampSettingsOf(const TSignOptions& Options);
// What the run's timestamp requests share with the rest of their batch: its pace file when the
// environment names one, else one of this run alone, and the server order and the pace kept in it.
struct TTimestampBatch {
  TTimestampBatch(std::unique_ptr<TPaceFile> PaceFile, std::vector<std::string> Servers,
                  std::chrono::milliseconds Interval)
      : File(std::move(PaceFile)), Order(std::move(Servers), *File), Pace(*File, Interval) {}

  std::unique_ptr<TPaceFile> File;
  TTimestampServerOrder Order;
  THostPace Pace;
};
// The batch for the servers Servers names. False, after saying why, when the named pace file
// cannot be used.
bool OpenTimestampBatch(const std::string& Servers, std::optional<TTimestampBatch>& Batch);
void PrintTimestampFailures(const std::vector<TTimestampFailure>& Failures);
