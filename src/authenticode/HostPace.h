#pragma once
// One pace per timestamp host, shared by every request of a batch: requests to a host start at
// least a gap apart, the configured minimum or what the host asked for through Retry-After,
// whichever is longer. A host's gap only grows during a batch; hosts are named in lower case.
//
// The pace is kept in a pace file (PaceFile.h), locked for each look, so that all processes of a
// batch that open the same file share it as the threads of one process do. A pace made without
// a file keeps it in an unnamed file of this process alone.
#include <chrono>
#include <mutex>
#include <string>

#include "authenticode/InterruptibleWait.h"
#include "common/Descriptor.h"

class THostPace {
 public:
  // A pace of this process alone. Throws std::system_error when no file can be had for it.
  explicit THostPace(std::chrono::milliseconds MinimumGap = {});
  // The pace in PaceFile, an open pace file, shared with every process that has it open.
  THostPace(TDescriptor PaceFile, std::chrono::milliseconds MinimumGap);

  enum class TTurn { Taken, PastDeadline, Interrupted };

  // Waits until a request to Host may start and counts it as started. Waiting requests take the
  // turns as they come free, so a slow-down meanwhile holds for them too. PastDeadline once the
  // next turn would come after Deadline. TakeTurn and SlowDown throw std::system_error when the
  // pace file cannot be read or written.
  TTurn TakeTurn(const std::string& Host, TSteadyClock::time_point Deadline, int Interruption);
  // Host asked for Wait (429 or 503 with Retry-After): no request goes before Wait from now, and
  // from now on its requests go at least Wait apart.
  void SlowDown(const std::string& Host, std::chrono::milliseconds Wait);

 private:
  // Runs Change on Host's pace, with the file locked and written back afterwards.
  template <class TChange>
  auto Update(const std::string& Host, TChange Change);

  std::chrono::milliseconds MinimumGap;
  // A file lock keeps other processes out, not the other threads of this one, which share its
  // open file.
  std::mutex Lock;
  TDescriptor File;
};
