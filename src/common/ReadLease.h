#pragma once
// Whether another process has a file open for writing, told by a read lease: the kernel grants one
// only while nobody has the file open for writing, and breaks it as soon as someone opens it so.
// Renaming a new file over one that is still open for writing would send the writer's later
// writes to a file without a name.

enum class TWriters {
  None,    // nobody has the file open for writing; the lease is held
  Some,    // someone has
  Unknown  // the file system gives no leases, or not to this user
};

class TReadLease {
 public:
  explicit TReadLease(int Fd);  // Fd is open for reading only
  ~TReadLease();
  TReadLease(const TReadLease&) = delete;
  TReadLease& operator=(const TReadLease&) = delete;

  TWriters Writers() const { return State; }
  // Whether someone opened the file for writing since the lease was taken. Their open waits until
  // the lease is released.
  bool Broken() const;
  void Release();

 private:
  int Fd;
  TWriters State = TWriters::Unknown;
  bool Held = false;
};
