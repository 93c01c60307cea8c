// The signature stripper on real programs signed by osslsigncode and on damaged files.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <QProcess>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "common/ByteReader.h"
#include "common/ByteWriter.h"
#include "common/uPubFunc.h"
#include "support/AppendingWriter.h"
#include "support/FileAccess.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"

#if defined(__SANITIZE_ADDRESS__)
#define STRIP_TEST_UNDER_ASAN
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STRIP_TEST_UNDER_ASAN
#endif
#endif

namespace {
using TBytes = std::vector<std::uint8_t>;

// Field positions by the PE/COFF standard, worked out here independently of the reader in src/.
struct TPositions {
  std::size_t CheckSum;
  std::size_t CertEntry;
};

TPositions PositionsOf(const TBytes& Image) {
  const std::size_t Nt = ReadLe32(Image, 0x3C);
  const bool Is64 = Image.at(Nt + 24) == 0x0B && Image.at(Nt + 25) == 0x02;
  return {Nt + 88, Nt + (Is64 ? 168 : 152)};
}

bool IsZero(const TBytes& Bytes, std::size_t Pos, std::size_t Length) {
  for (std::size_t I = Pos; I < Pos + Length; ++I)
    if (Bytes.at(I) != 0) return false;
  return true;
}

// Runs in a child process: leaves the process 1 GiB more address space than it uses, strips, and
// exits with 0 when the expected message came back.
[[noreturn]] void StripWithLittleAddressSpace(const std::string& Path) {
  std::ifstream Status("/proc/self/status");
  std::string Line;
  rlim_t InUse = 0;
  while (std::getline(Status, Line))
    if (Line.rfind("VmSize:", 0) == 0) InUse = std::stoull(Line.substr(7)) * 1024;
  const rlim_t Allowed = InUse + (rlim_t{1} << 30);
  const rlimit Limit{Allowed, Allowed};
  ::setrlimit(RLIMIT_AS, &Limit);
  std::string ErrorText;
  const bool Stripped = StripSignature(Path, ErrorText);
  std::fprintf(stderr, "%s", ErrorText.c_str());
  std::_Exit(!Stripped && ErrorText == "文件没有签名" ? 0 : 1);
}

// Runs in a child process: becomes an ordinary user with the given groups, strips, and exits with
// 0 when the file was stripped.
[[noreturn]] void StripAs(uid_t User, gid_t Group, const std::vector<gid_t>& Groups, const std::string& Path) {
  if (::setgroups(Groups.size(), Groups.data()) != 0 || ::setresgid(Group, Group, Group) != 0 ||
      ::setresuid(User, User, User) != 0)
    std::_Exit(2);
  std::string ErrorText;
  bool Stripped = false;
  try {
    Stripped = StripSignature(Path, ErrorText);
  } catch (const std::exception& Error) {
    ErrorText = Error.what();
  }
  std::fprintf(stderr, "%s", ErrorText.c_str());
  std::_Exit(Stripped ? 0 : 1);
}

struct TOwnership {
  uid_t User;
  gid_t Group;
  mode_t Mode;
  ino_t Inode;
};

TOwnership OwnershipOf(const std::string& Path) {
  struct stat Info {};
  EXPECT_EQ(::stat(Path.c_str(), &Info), 0) << Path;
  return {Info.st_uid, Info.st_gid, Info.st_mode & 07777, Info.st_ino};
}

// Another process holding an fcntl lock of Type on the whole of Path until it is killed. (Within
// this process any close of the file would drop such a lock.)
pid_t HoldFcntlLock(const std::string& Path, short Type) {
  int Ready[2];
  EXPECT_EQ(::pipe(Ready), 0);
  const pid_t Child = ::fork();
  if (Child == 0) {
    const int Fd = ::open(Path.c_str(), O_RDWR);
    struct flock Lock {};
    Lock.l_type = Type;
    Lock.l_whence = SEEK_SET;
    const char Taken = Fd >= 0 && ::fcntl(Fd, F_SETLK, &Lock) == 0 ? 'y' : 'n';
    (void)!::write(Ready[1], &Taken, 1);
    for (;;) ::pause();
  }
  char Taken = 'n';
  EXPECT_EQ(::read(Ready[0], &Taken, 1), 1);
  EXPECT_EQ(Taken, 'y');
  ::close(Ready[0]);
  ::close(Ready[1]);
  return Child;
}

class StripSignatureTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const {
    return Folder.filePath(QString::fromStdString(Name)).toStdString();
  }

  std::string Write(const std::string& Name, const TBytes& Bytes) const {
    const std::string Path = PathOf(Name);
    WriteBytes(Path, Bytes);
    return Path;
  }

  std::string WriteSigned(const std::string& Name, const TPeOptions& Options) const {
    const std::string Plain = Write(Name + ".plain", BuildPe(Options));
    const std::string Path = PathOf(Name);
    EXPECT_TRUE(OsslSign(Plain, Path));
    return Path;
  }

  // Runs the stripper expecting a message and an untouched file.
  void ExpectRefused(const std::string& Path, const std::string& Message) const {
    const TBytes Before = ReadBytes(Path);
    std::string ErrorText;
    EXPECT_FALSE(StripSignature(Path, ErrorText)) << Path;
    EXPECT_EQ(ErrorText, Message) << Path;
    EXPECT_EQ(ReadBytes(Path), Before) << Path;
  }

  QTemporaryDir Folder;
};

struct TKindCase {
  const char* Name;
  TPeOptions Options;
};

class StripSignedProgram : public StripSignatureTest, public ::testing::WithParamInterface<TKindCase> {};

TEST_P(StripSignedProgram, LeavesTheUnsignedImageBehind) {
  const TPeOptions& Options = GetParam().Options;
  const TBytes Original = BuildPe(Options);
  const std::string Path = WriteSigned("signed.bin", Options);
  ASSERT_EQ(::chmod(Path.c_str(), 0750), 0);
  const TBytes Signed = ReadBytes(Path);
  const TPositions At = PositionsOf(Signed);
  const std::uint32_t CertOffset = ReadLe32(Signed, At.CertEntry);
  ASSERT_GE(CertOffset, Original.size());
  ASSERT_NE(ReadLe32(Signed, At.CertEntry + 4), 0u);
  ASSERT_NE(ReadLe32(Signed, At.CheckSum), 0u);

  std::string ErrorText = "untouched";
  ASSERT_TRUE(StripSignature(Path, ErrorText));
  EXPECT_EQ(ErrorText, "untouched");

  const TBytes Stripped = ReadBytes(Path);
  ASSERT_EQ(Stripped.size(), CertOffset);
  EXPECT_TRUE(IsZero(Stripped, At.CheckSum, 4));
  EXPECT_TRUE(IsZero(Stripped, At.CertEntry, 8));
  TBytes Expected(Signed.begin(), Signed.begin() + CertOffset);
  std::memset(Expected.data() + At.CheckSum, 0, 4);
  std::memset(Expected.data() + At.CertEntry, 0, 8);
  EXPECT_EQ(Stripped, Expected);
  // Apart from osslsigncode's zero padding before the table, this is the unsigned original
  // (whose checksum was zero already).
  EXPECT_TRUE(std::equal(Original.begin(), Original.end(), Stripped.begin()));
  EXPECT_TRUE(IsZero(Stripped, Original.size(), Stripped.size() - Original.size()));

  struct stat Info {};
  ASSERT_EQ(::stat(Path.c_str(), &Info), 0);
  EXPECT_EQ(Info.st_mode & 07777, 0750u);
  EXPECT_FALSE(OsslVerify(Path).HasSignature);
  EXPECT_EQ(QDir(Folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);

  ExpectRefused(Path, "文件没有签名");
}

void PrintTo(const TKindCase& Case, std::ostream* Out) { *Out << Case.Name; }

INSTANTIATE_TEST_SUITE_P(
    Strip, StripSignedProgram,
    ::testing::Values(TKindCase{"Exe32", {TPeKind::Exe32, 0, false}},
                      TKindCase{"Exe64", {TPeKind::Exe64, 0, false}},
                      TKindCase{"Dll32", {TPeKind::Dll32, 0, true}},
                      TKindCase{"Dll64", {TPeKind::Dll64, 0, true}},
                      TKindCase{"Exe64WithResources", {TPeKind::Exe64, 100000, true}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(StripSignatureTest, DataAfterTheCertificateTableIsRefused) {
  const std::string Path = WriteSigned("trailing.exe", {TPeKind::Exe32, 0, false});
  TBytes Signed = ReadBytes(Path);
  const std::string Trailer = "data appended after the signature";
  Signed.insert(Signed.end(), Trailer.begin(), Trailer.end());
  WriteBytes(Path, Signed);
  ExpectRefused(Path, "修改签名失败");
}

TEST_F(StripSignatureTest, SixtyFourBitResourceEntryIsNotTakenForACertificateTable) {
  const TBytes Image = BuildPe({TPeKind::Exe64, 0, true});
  const std::size_t Nt = ReadLe32(Image, 0x3C);
  // Where a 32-bit reader would look for the certificate entry, this image has its resources.
  ASSERT_NE(ReadLe32(Image, Nt + 152), 0u);
  ASSERT_NE(ReadLe32(Image, Nt + 156), 0u);
  ExpectRefused(Write("resources.exe", Image), "文件没有签名");
}

TEST_F(StripSignatureTest, FilesThatCannotBeOpened) {
  std::string ErrorText;
  EXPECT_FALSE(StripSignature(PathOf("missing.exe"), ErrorText));
  EXPECT_EQ(ErrorText, "打开文件失败");

  ASSERT_TRUE(QDir(Folder.path()).mkdir("folder.exe"));
  ErrorText.clear();
  EXPECT_FALSE(StripSignature(PathOf("folder.exe"), ErrorText));
  EXPECT_EQ(ErrorText, "打开文件失败");

  // Nobody writes into this pipe: opening it must neither block nor be taken for a program.
  const std::string Pipe = PathOf("pipe.exe");
  ASSERT_EQ(::mkfifo(Pipe.c_str(), 0644), 0);
  ErrorText.clear();
  EXPECT_FALSE(StripSignature(Pipe, ErrorText));
  EXPECT_EQ(ErrorText, "打开文件失败");
}

TEST_F(StripSignatureTest, EmptyFileCannotBeMapped) {
  ExpectRefused(Write("empty.exe", {}), "创建映射失败");
}

TEST_F(StripSignatureTest, FileLargerThanTheAddressSpaceIsReadWithoutIt) {
#ifdef STRIP_TEST_UNDER_ASAN
  GTEST_SKIP() << "the address sanitizer needs the address space this test takes away";
#endif
  const std::string Path = PathOf("huge.exe");
  WriteBytes(Path, BuildPe({}));
  ASSERT_EQ(::truncate(Path.c_str(), 8LL << 30), 0);  // sparse: no disk space is used
  const std::string Style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // the window's threads make a plain fork unsafe
  EXPECT_EXIT(StripWithLittleAddressSpace(Path), ::testing::ExitedWithCode(0), "文件没有签名");
  GTEST_FLAG_SET(death_test_style, Style);
}

TEST_F(StripSignatureTest, FilesThatAreNoPrograms) {
  ExpectRefused(Write("notes.exe", {'h', 'e', 'l', 'l', 'o', '\n'}), "无法识别格式");
  ExpectRefused(Write("one.exe", {'M'}), "无法识别格式");
  ExpectRefused(Write("zm.exe", {'Z', 'M', 0, 0}), "无法识别格式");
}

TEST_F(StripSignatureTest, NtHeadersOutsideTheFileOrWithoutSignature) {
  TBytes NoLfanew(0x30, 0);
  NoLfanew[0] = 'M';
  NoLfanew[1] = 'Z';
  ExpectRefused(Write("short.exe", NoLfanew), "非法的PE文件");

  TBytes PastEnd = BuildPe({});
  PutLe32(PastEnd, 0x3C, 0x7FFFFFF0);
  ExpectRefused(Write("past-end.exe", PastEnd), "非法的PE文件");
  PutLe32(PastEnd, 0x3C, 0xFFFFFFFF);
  ExpectRefused(Write("wrapping.exe", PastEnd), "非法的PE文件");

  // The 248 bytes must all be present; a PE32+ image needs its 264.
  const TBytes Image32 = BuildPe({TPeKind::Exe32, 0, false});
  const std::size_t Nt32 = ReadLe32(Image32, 0x3C);
  ExpectRefused(Write("cut32.exe", TBytes(Image32.begin(), Image32.begin() + Nt32 + 247)), "非法的PE文件");
  const TBytes Image64 = BuildPe({TPeKind::Exe64, 0, false});
  const std::size_t Nt64 = ReadLe32(Image64, 0x3C);
  ExpectRefused(Write("cut64.exe", TBytes(Image64.begin(), Image64.begin() + Nt64 + 260)), "非法的PE文件");

  TBytes WrongSignature = BuildPe({});
  WrongSignature[ReadLe32(WrongSignature, 0x3C) + 2] = 'X';
  ExpectRefused(Write("ne.exe", WrongSignature), "非法的PE文件");
}

TEST_F(StripSignatureTest, UnsignedImages) {
  ExpectRefused(Write("plain32.exe", BuildPe({TPeKind::Exe32, 0, false})), "文件没有签名");
  ExpectRefused(Write("plain64.dll", BuildPe({TPeKind::Dll64, 0, false})), "文件没有签名");

  // An offset without a size is no signature either; the offset is not looked at.
  TBytes OffsetOnly = BuildPe({});
  PutLe32(OffsetOnly, PositionsOf(OffsetOnly).CertEntry, 0xFFFFFF00);
  ExpectRefused(Write("offset-only.exe", OffsetOnly), "文件没有签名");

  // With only four directory entries there is no certificate table, whatever follows them.
  TBytes FourEntries = BuildPe({});
  const std::size_t Nt = ReadLe32(FourEntries, 0x3C);
  PutLe32(FourEntries, Nt + 24 + 92, 4);
  PutLe32(FourEntries, Nt + 152, 0x200);
  PutLe32(FourEntries, Nt + 156, 0x10);
  ExpectRefused(Write("four-entries.exe", FourEntries), "文件没有签名");
}

TEST_F(StripSignatureTest, CertificateOffsetOutsideTheStrippableRange) {
  const std::string Path = WriteSigned("moved.exe", {TPeKind::Exe64, 0, false});
  const TBytes Signed = ReadBytes(Path);
  const TPositions At = PositionsOf(Signed);
  const std::size_t Nt = ReadLe32(Signed, 0x3C);
  for (const std::uint64_t Offset : {std::uint64_t{Signed.size() + 1}, std::uint64_t{0xFFFFFFFF},
                                     std::uint64_t{0}, std::uint64_t{0x40}, std::uint64_t{Nt + 264}}) {
    TBytes Moved = Signed;
    PutLe32(Moved, At.CertEntry, static_cast<std::uint32_t>(Offset));
    WriteBytes(Path, Moved);
    ExpectRefused(Path, "修改签名失败");
  }

  // Inside the section table, between it and the end of the headers as SizeOfHeaders gives it,
  // and inside the first section's data: each cut would damage the program.
  const std::size_t SectionTable = Nt + 24 + ReadLe16(Signed, Nt + 20);
  const std::uint32_t SizeOfHeaders = ReadLe32(Signed, Nt + 24 + 60);
  const std::uint32_t FirstRaw = ReadLe32(Signed, SectionTable + 20);
  ASSERT_LT(SectionTable + 40, SizeOfHeaders);
  ASSERT_NE(ReadLe32(Signed, SectionTable + 16), 0u);
  for (const std::uint32_t Offset : {static_cast<std::uint32_t>(SectionTable + 8),
                                     static_cast<std::uint32_t>(SectionTable + 40 * ReadLe16(Signed, Nt + 6) - 4),
                                     SizeOfHeaders - 8, FirstRaw, FirstRaw + 0x10}) {
    TBytes Moved = Signed;
    PutLe32(Moved, At.CertEntry, Offset);
    WriteBytes(Path, Moved);
    ExpectRefused(Path, "修改签名失败");
  }

  // A table said to start at the very end reaches past it.
  TBytes AtEnd = Signed;
  PutLe32(AtEnd, At.CertEntry, static_cast<std::uint32_t>(AtEnd.size()));
  WriteBytes(Path, AtEnd);
  ExpectRefused(Path, "修改签名失败");
}

TEST_F(StripSignatureTest, ReadOnlyFileIsNotRewrittenEvenWhenItCouldBe) {
  const std::string Path = WriteSigned("read-only.exe", {TPeKind::Dll32, 0, false});
  ASSERT_EQ(::chmod(Path.c_str(), 0444), 0);
  const TBytes Before = ReadBytes(Path);
  std::string ErrorText = "untouched";
  try {
    StripSignature(Path, ErrorText);
    ADD_FAILURE() << "no error raised";
  } catch (const std::runtime_error& Error) {
    EXPECT_EQ(std::string(Error.what()), "Cannot create file \"" + Path + "\". " + std::strerror(EACCES));
  }
  EXPECT_EQ(ErrorText, "untouched");
  EXPECT_EQ(ReadBytes(Path), Before);

  // A read-only file without a signature is simply reported.
  const std::string Plain = Write("read-only-plain.exe", BuildPe({}));
  ASSERT_EQ(::chmod(Plain.c_str(), 0444), 0);
  ExpectRefused(Plain, "文件没有签名");
}

TEST_F(StripSignatureTest, ErrorNamesTheFullPathOfARelativeName) {
  const std::string Path = WriteSigned("relative.exe", {});
  ASSERT_EQ(::chmod(Path.c_str(), 0400), 0);
  const QString Previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Folder.path()));
  std::string Message;
  try {
    std::string ErrorText;
    StripSignature("relative.exe", ErrorText);
  } catch (const std::runtime_error& Error) {
    Message = Error.what();
  }
  QDir::setCurrent(Previous);
  EXPECT_EQ(Message, "Cannot create file \"" + QDir(Folder.path()).canonicalPath().toStdString() +
                         "/relative.exe\". " + std::strerror(EACCES));
}
TEST_F(StripSignatureTest, RewriteLoopRacingTheStripper) {
  // Another program rewrites the file in place the way cp does (truncate, then write) while it is
  // stripped again and again. Nothing may crash, and once the writer stops the file is one whole
  // version: as written, or stripped.
  const std::string Path = WriteSigned("raced.exe", {TPeKind::Exe32, 128 * 1024, false});
  const TBytes Written = ReadBytes(Path);
  std::string ErrorText;
  ASSERT_TRUE(StripSignature(Path, ErrorText));
  const TBytes Stripped = ReadBytes(Path);

  std::atomic<bool> Stop = false;
  std::thread Writer([&] {
    while (!Stop) {
      const int Fd = ::open(Path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (Fd < 0) continue;
      for (std::size_t Done = 0; Done < Written.size();) {
        const ssize_t Count = ::write(Fd, Written.data() + Done, std::min<std::size_t>(16384, Written.size() - Done));
        if (Count <= 0) break;
        Done += static_cast<std::size_t>(Count);
      }
      ::close(Fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // room for some strips to go through
    }
  });
  int Succeeded = 0;
  for (int I = 0; I < 100; ++I)
    if (StripSignature(Path, ErrorText)) ++Succeeded;
  Stop = true;
  Writer.join();
  const TBytes Final = ReadBytes(Path);
  EXPECT_TRUE(Final == Written || Final == Stripped) << "a mixed file of " << Final.size() << " bytes";
  std::printf("%d of 100 strips went through during the rewrites\n", Succeeded);
}

TEST_F(StripSignatureTest, FileLockedByAnotherProgramIsLeftAlone) {
  const std::string Path = WriteSigned("locked.exe", {});
  QProcess Holder;
  Holder.start("flock", {"--no-fork", "--exclusive", QString::fromStdString(Path), "sleep", "30"});
  ASSERT_TRUE(Holder.waitForStarted());
  const int Probe = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  while (::flock(Probe, LOCK_EX | LOCK_NB) == 0) ::flock(Probe, LOCK_UN);  // until the holder has it
  ::close(Probe);
  ExpectRefused(Path, "打开文件失败");
  Holder.kill();
  Holder.waitForFinished();

  // fcntl (lockf) locks count as well, a reader's lock too: its holder relies on the content.
  for (const short Type : {F_WRLCK, F_RDLCK}) {
    const pid_t Holder = HoldFcntlLock(Path, Type);
    ExpectRefused(Path, "打开文件失败");
    ::kill(Holder, SIGKILL);
    ::waitpid(Holder, nullptr, 0);
  }
  std::string ErrorText;
  EXPECT_TRUE(StripSignature(Path, ErrorText)) << ErrorText;
}

TEST_F(StripSignatureTest, KeepsTheAclAndUserAttributes) {
  const std::string Path = WriteSigned("shared.dll", {TPeKind::Dll32, 0, false});
  ASSERT_EQ(::chmod(Path.c_str(), 0640), 0);
  ASSERT_TRUE(SetFacl(Path, {"-m", "user:4243:rw-,group::r--"}));
  ASSERT_EQ(::setxattr(Path.c_str(), "user.checksum", "\x01\x00\xff", 3, 0), 0);
  const TFileAccess Before = AccessOf(Path);
  ASSERT_EQ(Before.Mode, 0660u);
  std::string ErrorText;
  ASSERT_TRUE(StripSignature(Path, ErrorText)) << ErrorText;
  EXPECT_FALSE(OsslVerify(Path).HasSignature);
  EXPECT_EQ(AccessOf(Path), Before);
}

TEST_F(StripSignatureTest, FileAnotherProgramIsWritingIsLeftToIt) {
  const std::string Path = WriteSigned("growing.exe", {});
  const TBytes Original = ReadBytes(Path);
  TAppendingWriter Writer(Path);
  Writer.WaitForRecord(1);
  std::string ErrorText;
  EXPECT_FALSE(StripSignature(Path, ErrorText));
  EXPECT_EQ(ErrorText, "文件正被其他程序写入");
  Writer.WaitForRecord(Writer.RecordsWritten() + 1);
  Writer.Stop();
  EXPECT_TRUE(Writer.KeptEveryRecord(ReadBytes(Path), Original));
}

TEST_F(StripSignatureTest, HardLinkedFileStaysOneFileUnderEveryName) {
  const std::string Path = WriteSigned("linked.exe", {TPeKind::Dll64, 0, false});
  const std::string Other = PathOf("other-name.dll");
  ASSERT_EQ(::link(Path.c_str(), Other.c_str()), 0);
  const TOwnership Before = OwnershipOf(Path);
  std::string ErrorText;
  ASSERT_TRUE(StripSignature(Other, ErrorText));
  EXPECT_EQ(OwnershipOf(Path).Inode, Before.Inode);
  EXPECT_EQ(OwnershipOf(Other).Inode, Before.Inode);
  EXPECT_FALSE(OsslVerify(Path).HasSignature);
  ExpectRefused(Path, "文件没有签名");
}

TEST_F(StripSignatureTest, OrdinaryUserKeepsOwnerGroupAndModeAndCannotTouchOthersFiles) {
  if (::geteuid() != 0) GTEST_SKIP() << "setting up files of several users needs root";
  constexpr uid_t Owner = 4242, User = 4243;
  constexpr gid_t OwnersGroup = 4242, UsersGroup = 4243, Shared = 4300;
  ASSERT_EQ(::chmod(Folder.path().toLocal8Bit().constData(), 0777), 0);
  const auto Prepare = [&](const std::string& Name, uid_t FileOwner, gid_t FileGroup, mode_t Mode) {
    const std::string Path = WriteSigned(Name, {});
    EXPECT_EQ(::chown(Path.c_str(), FileOwner, FileGroup), 0);
    EXPECT_EQ(::chmod(Path.c_str(), Mode), 0);
    return Path;
  };
  const auto RunAsUser = [&](const std::string& Path) {
    const pid_t Child = ::fork();
    if (Child == 0) StripAs(User, UsersGroup, {Shared}, Path);
    int Status = 0;
    ::waitpid(Child, &Status, 0);
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  };

  // Another user's file the user may write through the group: rewritten in place.
  const std::string Theirs = Prepare("theirs.exe", Owner, Shared, 0664);
  const TOwnership TheirsBefore = OwnershipOf(Theirs);
  EXPECT_EQ(RunAsUser(Theirs), 0);
  const TOwnership TheirsAfter = OwnershipOf(Theirs);
  EXPECT_EQ(TheirsAfter.User, Owner);
  EXPECT_EQ(TheirsAfter.Group, Shared);
  EXPECT_EQ(TheirsAfter.Mode, 0664u);
  EXPECT_EQ(TheirsAfter.Inode, TheirsBefore.Inode);
  EXPECT_FALSE(OsslVerify(Theirs).HasSignature);

  // The user's own file in a group that is not the user's first: replaced, group kept.
  const std::string Own = Prepare("own.exe", User, Shared, 0750);
  EXPECT_EQ(RunAsUser(Own), 0);
  const TOwnership OwnAfter = OwnershipOf(Own);
  EXPECT_EQ(OwnAfter.User, User);
  EXPECT_EQ(OwnAfter.Group, Shared);
  EXPECT_EQ(OwnAfter.Mode, 0750u);
  EXPECT_FALSE(OsslVerify(Own).HasSignature);

  // Write permission on the folder does not make another user's 0644 file the user's to change.
  const std::string Foreign = Prepare("foreign.exe", Owner, OwnersGroup, 0644);
  const TBytes ForeignBefore = ReadBytes(Foreign);
  EXPECT_EQ(RunAsUser(Foreign), 1);
  EXPECT_EQ(ReadBytes(Foreign), ForeignBefore);
  EXPECT_EQ(OwnershipOf(Foreign).User, Owner);
}
}  // namespace
