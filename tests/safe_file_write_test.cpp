#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/SafeFileWrite.h"
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
}  // namespace
