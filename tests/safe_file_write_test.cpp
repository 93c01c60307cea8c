#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "common/SafeFileWrite.h"
#include "support/FileAccess.h"
#include "support/PeFixtures.h"

namespace {
mode_t ModeOf(const std::string& Path) {
  struct stat Info {};
  EXPECT_EQ(::stat(Path.c_str(), &Info), 0);
  return Info.st_mode & 07777;
}

std::vector<std::uint8_t> Bytes(const std::string& Text) { return {Text.begin(), Text.end()}; }

QStringList EntriesOf(const QTemporaryDir& Folder) {
  return QDir(Folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

TEST(WriteFileAtomically, ReplacesContentAndKeepsPermissions) {
  QTemporaryDir Folder;
  const std::string Path = Folder.filePath("program.exe").toStdString();
  WriteBytes(Path, Bytes("a much longer original content"));
  ASSERT_EQ(::chmod(Path.c_str(), 0751), 0);

  WriteFileAtomically(Path, Bytes("short"));
  EXPECT_EQ(ReadBytes(Path), Bytes("short"));
  EXPECT_EQ(ModeOf(Path), 0751u);
  EXPECT_EQ(EntriesOf(Folder), QStringList{"program.exe"});

  WriteFileAtomically(Path, {});
  EXPECT_TRUE(ReadBytes(Path).empty());
}

TEST(WriteFileAtomically, NewFileGetsDefaultPermissions) {
  QTemporaryDir Folder;
  const std::string Path = Folder.filePath("new.bin").toStdString();
  const mode_t Mask = ::umask(027);
  WriteFileAtomically(Path, Bytes("x"));
  ::umask(Mask);
  EXPECT_EQ(ModeOf(Path), 0640u);
}

TEST(WriteFileAtomically, WritesThroughALinkToItsTarget) {
  QTemporaryDir Folder;
  const std::string Target = Folder.filePath("target.dll").toStdString();
  const std::string Link = Folder.filePath("link.dll").toStdString();
  WriteBytes(Target, Bytes("old"));
  ASSERT_EQ(::symlink(Target.c_str(), Link.c_str()), 0);

  WriteFileAtomically(Link, Bytes("new"));
  struct stat Info {};
  ASSERT_EQ(::lstat(Link.c_str(), &Info), 0);
  EXPECT_TRUE(S_ISLNK(Info.st_mode));
  EXPECT_EQ(ReadBytes(Target), Bytes("new"));
}

TEST(WriteFileAtomically, FailureLeavesNoTraceAndCarriesTheSystemText) {
  QTemporaryDir Folder;
  const std::string Missing = Folder.filePath("no-such-folder/file.exe").toStdString();
  try {
    WriteFileAtomically(Missing, Bytes("x"));
    ADD_FAILURE() << "no error raised";
  } catch (const std::runtime_error& Error) {
    EXPECT_STREQ(Error.what(), std::strerror(ENOENT));
  }

  // Renaming a file over a non-empty folder fails after the temporary file was written.
  const std::string Busy = Folder.filePath("busy").toStdString();
  ASSERT_TRUE(QDir(Folder.path()).mkpath("busy/inner"));
  EXPECT_THROW(WriteFileAtomically(Busy, Bytes("x")), std::runtime_error);
  EXPECT_EQ(EntriesOf(Folder), QStringList{"busy"});
}
// Starts a replacement of Path with New written, but not yet committed.
void Begin(TFileReplacement& Replacement, const std::string& Path, const std::string& New) {
  ASSERT_EQ(Replacement.Open(Path, false), TFileReplacement::TOpenResult::Opened);
  ASSERT_EQ(::pwrite(Replacement.Temporary(), New.data(), New.size(), 0), static_cast<ssize_t>(New.size()));
}

void ExpectRefusal(TFileReplacement& Replacement, TReplaceError::TKind Kind) {
  try {
    Replacement.Commit();
    ADD_FAILURE() << "committed";
  } catch (const TReplaceError& Error) {
    EXPECT_EQ(Error.Kind, Kind) << Error.what();
  }
}

TEST(FileReplacement, FileChangedDuringTheWorkKeepsTheOtherWritersContent) {
  QTemporaryDir Folder;
  const std::string Path = Folder.filePath("program.exe").toStdString();
  WriteBytes(Path, Bytes("original"));
  {
    TFileReplacement Replacement;
    Begin(Replacement, Path, "ours");
    WriteBytes(Path, Bytes("rewritten by another program"));  // truncated and written in place
    ExpectRefusal(Replacement, TReplaceError::TKind::Changed);
  }
  EXPECT_EQ(ReadBytes(Path), Bytes("rewritten by another program"));
  {
    // Replaced by a rename: the new file stays.
    TFileReplacement Replacement;
    Begin(Replacement, Path, "ours");
    const std::string Newer = Folder.filePath("newer").toStdString();
    WriteBytes(Newer, Bytes("renamed over it"));
    ASSERT_EQ(::rename(Newer.c_str(), Path.c_str()), 0);
    ExpectRefusal(Replacement, TReplaceError::TKind::Changed);
  }
  EXPECT_EQ(ReadBytes(Path), Bytes("renamed over it"));
  EXPECT_EQ(EntriesOf(Folder), QStringList{"program.exe"});
}

TEST(FileReplacement, LockTakenDuringTheWorkIsRespected) {
  QTemporaryDir Folder;
  const std::string Path = Folder.filePath("program.exe").toStdString();
  WriteBytes(Path, Bytes("original"));
  TFileReplacement Replacement;
  Begin(Replacement, Path, "ours");
  // Our own lock keeps writers' locks out; a reader's lock can still be taken, and counts.
  const int Fd = ::open(Path.c_str(), O_RDWR | O_CLOEXEC);
  struct flock Lock {};
  Lock.l_type = F_WRLCK;
  Lock.l_whence = SEEK_SET;
  EXPECT_NE(::fcntl(Fd, F_OFD_SETLK, &Lock), 0);
  Lock.l_type = F_RDLCK;
  ASSERT_EQ(::fcntl(Fd, F_OFD_SETLK, &Lock), 0);
  ExpectRefusal(Replacement, TReplaceError::TKind::Locked);
  ::close(Fd);
  EXPECT_EQ(ReadBytes(Path), Bytes("original"));
}

ino_t InodeOf(const std::string& Path) {
  struct stat Info {};
  EXPECT_EQ(::stat(Path.c_str(), &Info), 0);
  return Info.st_ino;
}

TEST(FileReplacement, ReplacementKeepsTheAclUserAttributesAndExactMode) {
  QTemporaryDir Folder;
  const std::string Path = Folder.filePath("program.exe").toStdString();
  WriteBytes(Path, Bytes("original"));
  ASSERT_EQ(::chmod(Path.c_str(), 02750), 0);
  // The named user's rwx raises the mask, which the permission bits show as the group's: a copy
  // of the bits alone would give the group write access.
  ASSERT_TRUE(SetFacl(Path, {"-m", "user:4243:rwx,group::r-x"}));
  ASSERT_EQ(::setxattr(Path.c_str(), "user.origin", "build 42", 8, 0), 0);
  ASSERT_EQ(::setxattr(Path.c_str(), "user.empty", "", 0, 0), 0);
  const TFileAccess Before = AccessOf(Path);
  ASSERT_EQ(Before.Mode, 02770u);
  const ino_t Inode = InodeOf(Path);

  WriteFileAtomically(Path, Bytes("new content"));
  EXPECT_EQ(ReadBytes(Path), Bytes("new content"));
  EXPECT_NE(InodeOf(Path), Inode) << "replaced by a new file, not rewritten in place";
  EXPECT_EQ(AccessOf(Path), Before);
  EXPECT_EQ(EntriesOf(Folder), QStringList{"program.exe"});
}

TEST(FileReplacement, FileWithoutAclGainsNoneFromItsFolder) {
  QTemporaryDir Folder;
  const std::string Path = Folder.filePath("program.exe").toStdString();
  WriteBytes(Path, Bytes("original"));
  ASSERT_EQ(::chmod(Path.c_str(), 0640), 0);
  ASSERT_TRUE(SetFacl(Folder.path().toStdString(), {"-d", "-m", "user:4243:rwx"}));
  ASSERT_FALSE(HasAccessAcl(Path));

  WriteFileAtomically(Path, Bytes("new content"));
  EXPECT_FALSE(HasAccessAcl(Path)) << AccessOf(Path).Acl;
  EXPECT_EQ(ModeOf(Path), 0640u);
}

TEST(FileReplacement, FileOpenForWritingElsewhereIsLeftToItsWriter) {
  QTemporaryDir Folder;
  const std::string Path = Folder.filePath("log.exe").toStdString();
  WriteBytes(Path, Bytes("original\n"));
  {
    // Opened for writing before the work: refused at once.
    const int Writer = ::open(Path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(Writer, 0);
    TFileReplacement Replacement;
    EXPECT_EQ(Replacement.Open(Path, false), TFileReplacement::TOpenResult::InUse);
    EXPECT_THROW(WriteFileAtomically(Path, Bytes("ours")), TReplaceError);
    ::close(Writer);
  }
  {
    // Opened during the work and not written to yet: refused at the end, and what it writes
    // afterwards reaches the file.
    TFileReplacement Replacement;
    Begin(Replacement, Path, "ours");
    const int Writer = ::open(Path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(Writer, 0);
    ExpectRefusal(Replacement, TReplaceError::TKind::InUse);
    ASSERT_EQ(::write(Writer, "later\n", 6), 6);
    ::close(Writer);
  }
  EXPECT_EQ(ReadBytes(Path), Bytes("original\nlater\n"));
  EXPECT_EQ(EntriesOf(Folder), QStringList{"log.exe"});

  // Once the writer has closed it, the file is replaced.
  WriteFileAtomically(Path, Bytes("ours"));
  EXPECT_EQ(ReadBytes(Path), Bytes("ours"));
}
}  // namespace
