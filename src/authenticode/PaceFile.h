#pragma once
// The pace file a batch's processes share: what the batch has learnt about its timestamp servers
// (HostPace.h, TimestampServerOrder.h), and the variables that name it and the least gap between
// two requests to one host to each process.
//
// The file holds records, one line each: a key without blanks, a blank and the values. Past the
// records lie places: one-byte locks (open file description locks) that a holder keeps until it
// frees them or its file closes, also when its process dies, so that what is held in the batch
// can be counted.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
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

using TPaceRecords = std::map<std::string, std::string, std::less<>>;

// One opening of a pace file, shared by the threads of a process.
class TPaceFile {
 public:
  // A pace file of this process alone. Throws std::system_error when none can be had.
  TPaceFile();
  // File: an open pace file, shared with every process that has it open.
  explicit TPaceFile(TDescriptor File);

  // What a change sees while it has the file to itself.
  class TLocked {
   public:
    TPaceRecords Records;
    // How many of the Count places from First are held, by anyone.
    int HeldPlaces(std::uint64_t First, int Count) const;
    // Takes Place when no one holds it.
    bool Hold(std::uint64_t Place);

   private:
    friend TPaceFile;
    explicit TLocked(TPaceFile& File) : File(File) {}
    // Places in [From, To) held through other openings of the file.
    int HeldElsewhere(std::uint64_t From, std::uint64_t To) const;
    TPaceFile& File;
  };

  // Runs Change on the records with the file locked against every other thread and process, and
  // writes them back when they changed. Throws std::system_error when the file cannot be read or
  // written.
  void Update(const std::function<void(TLocked&)>& Change);
  // Gives up a place taken with Hold.
  void Free(std::uint64_t Place) noexcept;

 private:
  // A file lock keeps other processes out, not the other threads of this one, which share its
  // open file; nor do they see each other's places, which are recorded here.
  std::mutex Lock;
  TDescriptor File;
  std::set<std::uint64_t> HeldHere;
};
