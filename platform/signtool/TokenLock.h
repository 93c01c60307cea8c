#pragma once
// One signing at a time on one token, across every signtool.exe process of the user: PKCS#11
// modules and tokens often fail when several processes use one token at once.
#include <chrono>
#include <string>

class TTokenLock {
 public:
  // Waits until no other process holds the lock of Token, or Deadline passes. Without a lock
  // file (no writable folder) signing goes on unlocked rather than not at all. Throws
  // TInterrupted when the run is interrupted while it waits.
  TTokenLock(const std::string& Token, std::chrono::steady_clock::time_point Deadline);
  ~TTokenLock();
  TTokenLock(const TTokenLock&) = delete;
  TTokenLock& operator=(const TTokenLock&) = delete;

  // Another process held the token until the deadline.
  bool Expired() const { return TimedOut; }

 private:
  int File = -1;
  bool TimedOut = false;
};
