#pragma once
// Replacing a file's content so that neither a failure nor another process's work is lost.
//
// The original is opened and locked for the whole work (flock, and an fcntl read lock so that no
// lockf writer can start meanwhile); its content is read by position, so that nothing another
// process does to it can fault this one. The new content goes to an unnamed temporary file in the
// same folder that is linked in only once it is finished and flushed, so that a crash leaves
// nothing behind; it takes over the original's owner, group, permission bits, access ACL and user
// attributes. A file with several hard links, or whose access the new file cannot take over, is
// rewritten in place from the finished copy instead. A file changed meanwhile (its size,
// modification time or identity) is not replaced, nor is a file another process made under the
// name of one that was not there yet: the other writer's content stays. Nor is a file another
// process has open for writing: its later writes would go to a file without a name.
#include <sys/stat.h>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

class TReadLease;

class TReplaceError : public std::runtime_error {
 public:
  enum class TKind {
    Locked,       // another process holds a lock on the file
    NotWritable,  // the user may not write it, or it has no write permission bit at all
    Changed,      // another process changed or replaced the file during the work
    InUse,        // another process has the file open for writing
    System        // a system call failed; Error holds its errno
  };
  TReplaceError(TKind Kind, int Error);
  TKind Kind;
  int Error;
};

// Whether the new content reaches the disk before it takes the file's place. Only a file that
// its one reader takes and removes at once goes unflushed (a signtool.exe run's report to the
// window): a crash that could lose it ends that reader too.
enum class TDurability { Flushed, Unflushed };

class TFileReplacement {
 public:
  enum class TOpenResult {
    Opened,
    Created,     // there is no such file yet; committing makes it
    NotRegular,  // a folder, a pipe, a device
    Locked,
    InUse,       // another process has it open for writing
    Failed       // errno tells why
  };

  TFileReplacement() = default;
  ~TFileReplacement();
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;

  // Opens the file Path names, through symbolic links (even one that leads nowhere yet), and
  // locks it. MayCreate lets a missing file be made by Commit.
  TOpenResult Open(const std::string& Path, bool MayCreate);

  int Original() const { return OriginalFd; }  // read-only; -1 for a file still to be made
  const struct stat& OriginalInfo() const { return Info; }
  const std::string& Target() const { return TargetPath; }

  // Throws NotWritable unless the user (by the effective ids) may write the file and it has a
  // write permission bit: a read-only file stays read-only, even for root.
  void CheckWritable() const;

  // The descriptor the new content is written to; made on the first call. Throws System.
  int Temporary();

  // Starts writing what the temporary file holds so far to the disk, without waiting for it: the
  // flush in Commit then has less left to wait for while the caller does other work meanwhile.
  void StartWriting();

  // Makes the new content the file's. Throws TReplaceError; the file is then as it was (or as
  // the other process left it).
  void Commit(TDurability Durability = TDurability::Flushed);

 private:
  void CheckUnchanged() const;
  bool TakeOverAccess();
  void NameTemporary();
  void LinkIn(const TReadLease* Lease);
  void RewriteInPlace();

  std::string TargetPath;
  std::string Folder;
  int OriginalFd = -1;
  struct stat Info {};
  int TemporaryFd = -1;
  std::string TemporaryName;  // the temporary file's name, once it has one
};

// Copies Length bytes from one descriptor to another, at the given positions, in the kernel
// where it can. Returns how many were copied: fewer only when the source ended first. Throws
// TReplaceError (System) when reading or writing fails.
std::uint64_t CopyFileRange(int From, std::uint64_t FromPos, int To, std::uint64_t ToPos, std::uint64_t Length);

// A file without any write permission bit counts as read-only, even for a process that could
// write it anyway. A symbolic link is followed.
bool IsReadOnlyFile(const std::string& Path);

// Writes Bytes as the whole new content of the file Replacement opened and commits it. Throws
// TReplaceError.
void CommitContent(TFileReplacement& Replacement, std::span<const std::uint8_t> Bytes,
                   TDurability Durability = TDurability::Flushed);

// Writes Bytes as the whole content of Path, which need not exist yet (a new file gets 0644 less
// the umask), by the rules above. Throws TReplaceError.
void WriteFileAtomically(const std::string& Path, std::span<const std::uint8_t> Bytes,
                         TDurability Durability = TDurability::Flushed);
