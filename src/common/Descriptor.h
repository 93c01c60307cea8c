#pragma once
// A file descriptor owned by one object and closed with it.
#include <unistd.h>

class TDescriptor {
 public:
  explicit TDescriptor(int Fd = -1) : Fd(Fd) {}
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  TDescriptor(TDescriptor&& Other) noexcept : Fd(Other.Release()) {}
  TDescriptor& operator=(TDescriptor&& Other) noexcept {
    if (this != &Other) Reset(Other.Release());
    return *this;
  }
  ~TDescriptor() { Close(); }
  int Get() const { return Fd; }
  bool IsOpen() const { return Fd >= 0; }
  void Reset(int NewFd) {
    Close();
    Fd = NewFd;
  }
  int Release() {
    const int Old = Fd;
    Fd = -1;
    return Old;
  }
  void Close() {
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
  }

 private:
  int Fd;
};
