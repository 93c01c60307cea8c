#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <stdexcept>

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
}  // namespace
