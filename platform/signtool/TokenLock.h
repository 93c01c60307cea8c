#pragma once
// One signing at a time on one token, across every signtool.exe process of the user: PKCS#11
// modules and tokens often fail when several processes use one token at once.
#include <string>

class TTokenLock {
 public:
  // Waits until no other process holds the lock of Token. Without a lock file (no writable
  // folder) signing goes on unlocked rather than not at all.
  explicit TTokenLock(const std::string& Token);
  ~TTokenLock();
  TTokenLock(const TTokenLock&) = delete;
  TTokenLock& operator=(const TTokenLock&) = delete;

 private:
  int File = -1;
};
