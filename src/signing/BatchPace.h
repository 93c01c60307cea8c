#pragma once
// The timestamp pace and server order that all signtool.exe runs of one batch share (signing, or
// adding timestamps later): a pace file in a folder only this user may enter, made as the batch
// begins and removed when it ends, so that a throttling server sees the batch's requests at one
// pace however many files are in flight, and a server that is down is tried once in the batch.
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "keys/PrivateFolder.h"

class TBatchPace {
 public:
  // Interval: the least time between two requests to one host. Where no private file can be
  // made, each run keeps a pace of its own.
  explicit TBatchPace(std::chrono::milliseconds Interval);
  ~TBatchPace();
  TBatchPace(const TBatchPace&) = delete;
  TBatchPace& operator=(const TBatchPace&) = delete;

  // The variables (name, value) each run's environment gets.
  std::vector<std::pair<std::string, std::string>> RunEnvironment() const;

 private:
  std::chrono::milliseconds Interval;
  TPrivateFolder Folder;
  std::string Path;  // the pace file; empty when none could be made
};
