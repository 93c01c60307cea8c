#pragma once
// One signing at a time on one token, across every process of the user (signtool.exe runs and the
// window's key session): PKCS#11 modules and tokens often fail when several processes use one
// token at once.
#include <chrono>
#include <cstdint>
#include <string>

class TTokenLock {
 public:
  enum class TState : std::uint8_t {
    Held,
    Expired,      // another process held the token until the deadline
    Interrupted,  // the interruption descriptor became readable meanwhile
    Refused       // no lock file that is safe to use: see Problem
  };

  // Waits until no other process holds the lock of Token, or Deadline passes. The lock file lies
  // in the user's private folder (see LockFolder.h) and must be a regular file of the user's;
  // anything else is refused at once, never waited on. The wait also ends once Interruption
  // (a descriptor, see authenticode/InterruptibleWait.h; -1 for none) is readable.
  TTokenLock(const std::string& Token, std::chrono::steady_clock::time_point Deadline, int Interruption);
  ~TTokenLock();
  TTokenLock(const TTokenLock&) = delete;
  TTokenLock& operator=(const TTokenLock&) = delete;

  TState State() const { return FState; }
  // Why the lock was refused, as the text after "SignTool Error: ".
  const std::string& Problem() const { return FProblem; }
  // The lock file, open for reading and writing while the lock is held.
  int Descriptor() const { return FState == TState::Held ? FFile : -1; }

 private:
  void Refuse(std::string Problem);

  int FFile = -1;
  TState FState = TState::Held;
  std::string FProblem;
};
