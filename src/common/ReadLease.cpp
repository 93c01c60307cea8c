#include "common/ReadLease.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/vfs.h>

#include <cerrno>

namespace {
// Network file systems refuse a read lease without a grant from the server (EAGAIN as well), so
// their refusal says nothing about writers.
bool RefusalMeansWriters(int Fd) {
  struct statfs FileSystem {};
  if (::fstatfs(Fd, &FileSystem) != 0) return false;
  switch (FileSystem.f_type) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case CIFS_SUPER_MAGIC:
    case SMB2_SUPER_MAGIC: return false;
    default: return true;
  }
}
}  // namespace

TReadLease::TReadLease(int Fd) : Fd(Fd) {
  // Taking a lease makes this process the file's owner for signals, and a break would send it
  // SIGIO, which ends a process. Clearing the owner right after sends nothing; until then the
  // signal is SIGURG, which is ignored unless a program asks for it.
  ::fcntl(Fd, F_SETSIG, SIGURG);
  if (::fcntl(Fd, F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(Fd, F_SETOWN, 0);
    State = TWriters::None;
    Held = true;
  } else if (errno == EAGAIN && RefusalMeansWriters(Fd)) {
    State = TWriters::Some;
  }
}

TReadLease::~TReadLease() { Release(); }

bool TReadLease::Broken() const { return Held && ::fcntl(Fd, F_GETLEASE) != F_RDLCK; }

void TReadLease::Release() {
  if (Held) ::fcntl(Fd, F_SETLEASE, F_UNLCK);
  Held = false;
}
