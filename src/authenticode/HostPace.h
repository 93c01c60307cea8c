#pragma once
// One pace per timestamp host, shared by every request of a batch. It keeps two things:
// - how many requests may be in flight to the host at once: no limit until the host refuses one
//   as too many (429, or 503 with Retry-After); then fewer than were in flight as the refusal
//   came, and one more again after each LimitRaisePeriod without a refusal once answers come at
//   the limit;
// - the least gap between two requests' starts: the configured minimum, or what the host asked
//   for when it refused a request with at most one other in flight, since such a host counts
//   requests over time and not only at once. That gap holds for the rest of the batch.
// A refused request itself waits what the host asked before it is sent again (the caller's
// NotBefore); the others go on at the learnt limit, so one refusal costs one wait, not one for
// every later request. Hosts are named in lower case.
//
// The pace is kept in the batch's pace file (PaceFile.h): a request in flight holds one of its
// host's places there, so that all processes of a batch count each other's requests as the
// threads of one process do, and a process that dies gives its places back.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "authenticode/InterruptibleWait.h"
#include "authenticode/PaceFile.h"

class THostPace {
 public:
  // The most requests in flight to one host that the pace counts.
  static constexpr int MaxInFlight = 64;
  static constexpr std::chrono::seconds LimitRaisePeriod{10};

  // File is the batch's and outlives the pace; MinimumGap is the configured least gap.
  explicit THostPace(TPaceFile& File, std::chrono::milliseconds MinimumGap = {})
      : File(File), MinimumGap(MinimumGap) {}

  // A request's place at its host from its turn until its answer; given back when it goes.
  class TSlot {
   public:
    TSlot(TSlot&& Other) noexcept;
    TSlot& operator=(TSlot&&) = delete;
    ~TSlot();

   private:
    friend THostPace;
    TSlot(TPaceFile& File, std::string Host, std::uint64_t Place) : File(&File), Host(std::move(Host)), Place(Place) {}

    TPaceFile* File;  // none once moved from
    std::string Host;
    std::uint64_t Place;
  };

  enum class TWait { Taken, PastDeadline, Interrupted };
  struct TTurn {
    TWait Wait;
    std::optional<TSlot> Slot;  // when Taken
  };

  // Waits until NotBefore and until a request to Host may start, and holds a place for it.
  // Waiting requests take the turns as they come free, so a slow-down meanwhile holds for them
  // too. PastDeadline once the turn would come after Deadline. TakeTurn, Granted and Throttled
  // throw std::system_error when the pace file cannot be read or written.
  TTurn TakeTurn(const std::string& Host, TSteadyClock::time_point NotBefore, TSteadyClock::time_point Deadline,
                 int Interruption);
  // The host answered Slot's request.
  void Granted(const TSlot& Slot);
  // The host refused Slot's request as too many and asked for Wait before the next.
  void Throttled(const TSlot& Slot, std::chrono::milliseconds Wait);

 private:
  TPaceFile& File;
  std::chrono::milliseconds MinimumGap;
};
