// signtool.exe end to end: real files signed, run the way Quillory runs it; osslsigncode checks
// what it wrote.
#include <gtest/gtest.h>

#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

#include "common/WindowsCommandLine.h"
#include "keys/AgentKey.h"
#include "common/uPubFunc.h"
#include "support/AppendingWriter.h"
#include "support/CabFixtures.h"
#include "support/FileAccess.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/ScopedEnvironment.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
std::string SignTool() { return QCoreApplication::applicationDirPath().toStdString() + "/signtool.exe"; }

const std::string TimestampWarning =
    "SignTool Warning: Signing succeeded, but an error occurred while attempting to timestamp: ";

// The command line Quillory builds for one file, every value quoted as needed.
std::string SignCommand(const std::string& File, const std::string& TimestampUrl,
                        const std::string& Pfx = TestPki().PfxPath,
                        const std::string& Password = TestPki().PfxPassword) {
  return "signtool.exe sign /q /f " + QuoteArgument(Pfx) + " /p " + QuoteArgument(Password) + " /t " +
         QuoteArgument(TimestampUrl) + " /d " + QuoteArgument("Quillory 测试") + " " + QuoteArgument(File);
}

class SignToolTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const { return Folder.filePath(QString::fromStdString(Name)).toStdString(); }

  std::string WriteProgram(const std::string& Name, TPeKind Kind = TPeKind::Exe32) const {
    const std::string Path = PathOf(Name);
    WriteBytes(Path, BuildPe({Kind, 64 * 1024}));
    return Path;
  }

  // Names in the folder: signing must leave no temporary file or folder behind.
  std::vector<std::string> Entries() const {
    std::vector<std::string> Names;
    for (const auto& Entry : std::filesystem::directory_iterator(Folder.path().toStdString()))
      Names.push_back(Entry.path().filename().string());
    std::sort(Names.begin(), Names.end());
    return Names;
  }

  void ExpectSignedAndTimestamped(const std::string& Path) const {
    const TOsslVerdict Verify = OsslVerify(Path);
    EXPECT_TRUE(Verify.SignatureOk) << Path << "\n" << Verify.Output;
    EXPECT_TRUE(Verify.TimestampOk) << Path << "\n" << Verify.Output;
  }

  QTemporaryDir Folder;
};

std::string Slurp(const std::string& Path) {
  std::ifstream Stream(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(Stream), {});
}

// signtool.exe started on one file against Server, not waited for.
void StartSigning(QProcess& Process, const std::string& File, const std::string& Url) {
  Process.start(QString::fromStdString(SignTool()),
                {"sign", "/q", "/f", QString::fromStdString(TestPki().PfxPath), "/p",
                 QString::fromStdString(TestPki().PfxPassword), "/t", QString::fromStdString(Url),
                 QString::fromStdString(File)});
}

// A free port with nothing listening on it.
std::string UnreachableUrl() {
  std::uint16_t Port;
  {
    LoopbackHttpServer Closed([](const THttpRequest&) { return THttpResponse{}; });
    Port = Closed.Port();
  }
  return "http://127.0.0.1:" + std::to_string(Port) + "/";
}
}  // namespace

TEST_F(SignToolTest, SignsAndTimestampsEveryKindOfFile) {
  TimestampServer Server;
  std::vector<std::string> Files{WriteProgram("program32.exe", TPeKind::Exe32),
                                 WriteProgram("program64.exe", TPeKind::Exe64),
                                 WriteProgram("library.dll", TPeKind::Dll32),
                                 WriteProgram("driver.sys", TPeKind::Dll64)};
  Files.push_back(PathOf("setup.cab"));
  WriteBytes(Files.back(), BuildCab("readme.txt", std::string(70000, 'q')));
  const std::vector<std::string> Before = Entries();

  for (const std::string& File : Files) {
    std::string ErrorText = "untouched";
    EXPECT_TRUE(RunAndCapture(SignCommand(File, Server.Url()), ErrorText)) << ErrorText;
    EXPECT_EQ(ErrorText, "untouched");
    ExpectSignedAndTimestamped(File);
  }
  EXPECT_EQ(Server.RequestCount(), static_cast<int>(Files.size()));
  EXPECT_EQ(Entries(), Before);
}

TEST_F(SignToolTest, BlanksAndChineseInPathAndPassword) {
  TimestampServer Server;
  const std::string Password = " p@ss \"word\" with\tblanks \\\" ";
  const std::string Pfx = PfxWithPassword(Password);
  ASSERT_TRUE(QDir(Folder.path()).mkdir("签名 测试"));
  const std::string File = WriteProgram("签名 测试/程序 文件.exe", TPeKind::Exe64);

  std::string ErrorText;
  EXPECT_TRUE(RunAndCapture(SignCommand(File, Server.Url(), Pfx, Password), ErrorText)) << ErrorText;
  ExpectSignedAndTimestamped(File);
}

TEST_F(SignToolTest, SeveralFilesWithRfc3161Timestamps) {
  TimestampServer Server;
  const std::string A = WriteProgram("a.exe"), B = WriteProgram("b b.dll", TPeKind::Dll64);
  const TProcessResult Result =
      RunProcess(SignTool(), {"sign", "/q", "/fd", "SHA256", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword,
                              "/tr", Server.Url(), "/td", "sha256", "/du", "https://example.com/", A, B});
  EXPECT_EQ(Result.ExitCode, 0) << Result.Err;
  EXPECT_EQ(Result.Out + Result.Err, "");
  ExpectSignedAndTimestamped(A);
  ExpectSignedAndTimestamped(B);
}

TEST_F(SignToolTest, ResigningReplacesTheSignature) {
  TimestampServer Server;
  const std::string File = WriteProgram("twice.exe");
  std::string ErrorText;
  ASSERT_TRUE(RunAndCapture(SignCommand(File, Server.Url()), ErrorText)) << ErrorText;
  const auto OnceSigned = ReadBytes(File);
  ASSERT_TRUE(RunAndCapture(SignCommand(File, Server.Url()), ErrorText)) << ErrorText;
  const TOsslVerdict Verify = OsslVerify(File);
  EXPECT_TRUE(Verify.TimestampOk) << Verify.Output;
  EXPECT_NE(Verify.Output.find("Number of verified signatures: 1"), std::string::npos) << Verify.Output;
  EXPECT_EQ(ReadBytes(File).size(), OnceSigned.size());
}

// With a PFX and no time-stamp server signtool.exe signs by itself, as osslsigncode would.
TEST_F(SignToolTest, WithoutTimestampSignsAsOsslsigncodeWould) {
  const std::string Exe = WriteProgram("plain.exe"), Dll = WriteProgram("plain64.dll", TPeKind::Dll64);
  const std::string Cab = PathOf("plain.cab");
  WriteBytes(Cab, BuildCab("readme.txt", "signed in this process"));
  const TTestPki& Pki = TestPki();
  for (const std::string& File : {Exe, Dll, Cab})
    ASSERT_TRUE(OsslSign(File, File + ".oracle",
                         {"-h", "sha384", "-n", "Quillory 测试", "-i", "https://quillory.example/", "-ac",
                          Pki.TsaCaCertPath, "-time", "1700000000"}));
  const TProcessResult Result = [&] {
    const TScopedEnvironment SigningTime("SOURCE_DATE_EPOCH", "1700000000");
    return RunProcess(SignTool(), {"sign", "/q", "/fd", "SHA384", "/f", Pki.PfxPath, "/p", Pki.PfxPassword, "/ac",
                                   Pki.TsaCaCertPath, "/d", "Quillory 测试", "/du", "https://quillory.example/", Exe,
                                   Dll, Cab});
  }();
  EXPECT_EQ(Result.ExitCode, 0) << Result.Err;
  EXPECT_EQ(Result.Out + Result.Err, "");
  for (const std::string& File : {Exe, Dll, Cab}) EXPECT_EQ(ReadBytes(File), ReadBytes(File + ".oracle")) << File;
}

TEST_F(SignToolTest, AppendedSignatureIsNestedInTheFirst) {
  const std::string File = WriteProgram("dual.exe");
  const std::string Theirs = File + ".oracle";
  ASSERT_TRUE(OsslSign(File, Theirs, {"-h", "sha1", "-time", "1700000000"}));
  ASSERT_TRUE(OsslSign(Theirs, Theirs, {"-h", "sha256", "-nest", "-time", "1700000001"}));
  const TTestPki& Pki = TestPki();
  const auto SignAt = [&](const char* Time, std::vector<std::string> Options) {
    const TScopedEnvironment SigningTime("SOURCE_DATE_EPOCH", Time);
    Options.insert(Options.end(), {"/f", Pki.PfxPath, "/p", Pki.PfxPassword, File});
    return RunProcess(SignTool(), Options);
  };
  const TProcessResult First = SignAt("1700000000", {"sign", "/q", "/fd", "sha1"});
  const TProcessResult Second = SignAt("1700000001", {"sign", "/q", "/as"});
  EXPECT_EQ(First.ExitCode, 0) << First.Err;
  EXPECT_EQ(Second.ExitCode, 0) << Second.Err;
  EXPECT_EQ(ReadBytes(File), ReadBytes(Theirs));
  const TOsslVerdict Verify = OsslVerify(File);
  EXPECT_TRUE(Verify.SignatureOk) << Verify.Output;
  EXPECT_NE(Verify.Output.find("Number of verified signatures: 2"), std::string::npos) << Verify.Output;
}

TEST_F(SignToolTest, WrongPasswordFailsAndLeavesTheFileAlone) {
  TimestampServer Server;
  const std::string File = WriteProgram("keep.exe");
  const auto Original = ReadBytes(File);
  const std::vector<std::string> Before = Entries();

  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(SignCommand(File, Server.Url(), TestPki().PfxPath, "not the password"), ErrorText));
  EXPECT_EQ(ErrorText, "SignTool Error: The specified PFX password is not correct.\n");
  EXPECT_EQ(ReadBytes(File), Original);
  EXPECT_EQ(Entries(), Before);

  const TProcessResult Result =
      RunProcess(SignTool(), {"sign", "/f", TestPki().PfxPath, "/p", "wrong", File, File});
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Err, "SignTool Error: The specified PFX password is not correct.\n");
}

TEST_F(SignToolTest, UnusableCertificateIsReportedOnceForAllFiles) {
  const std::string A = WriteProgram("a.exe"), B = WriteProgram("b.exe");
  const std::string Missing = PathOf("missing.pfx");
  TProcessResult Result = RunProcess(SignTool(), {"sign", "/q", "/f", Missing, "/p", "x", A, B});
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Err, "SignTool Error: File not found: " + Missing + "\n");

  const std::string NotPfx = PathOf("certificate.pfx");
  std::ofstream(NotPfx) << "-----BEGIN CERTIFICATE-----\n";
  Result = RunProcess(SignTool(), {"sign", "/q", "/f", NotPfx, "/p", "x", A, B});
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Err, "SignTool Error: The specified file is not a valid PFX file: " + NotPfx + "\n");
  EXPECT_EQ(ReadBytes(A), ReadBytes(B));
  EXPECT_FALSE(OsslVerify(A).HasSignature);
}

TEST_F(SignToolTest, TimestampServerThatFailsGivesWarningAndUnstampedSignature) {
  TimestampServer Refusing(TTimestampBehaviour::Refuse);
  for (const std::string& Url : {UnreachableUrl(), Refusing.Url()}) {
    const std::string File = WriteProgram("stamp less.exe");
    std::string ErrorText;
    EXPECT_FALSE(RunAndCapture(SignCommand(File, Url), ErrorText));
    EXPECT_EQ(ErrorText, TimestampWarning + File + "\n");
    const TOsslVerdict Verify = OsslVerify(File);
    EXPECT_TRUE(Verify.SignatureOk) << Verify.Output;
    EXPECT_FALSE(Verify.TimestampOk) << Verify.Output;
  }
  // Three tries.
  EXPECT_EQ(Refusing.RequestCount(), 3);

  const std::string File = WriteProgram("exit code.exe");
  const TProcessResult Result = RunProcess(
      SignTool(), {"sign", "/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, "/t", UnreachableUrl(), File});
  EXPECT_EQ(Result.ExitCode, 2);
}

TEST_F(SignToolTest, ThrottledOrFailingRequestsAreTriedAgain) {
  // A refusal that asks to wait, with both kinds of time-stamp.
  TimestampServer Throttling(TTimestampBehaviour::ThrottleFirst);
  for (const auto& [Switch, Name] : {std::pair{"/t", "throttled.exe"}, std::pair{"/tr", "throttledr.exe"}}) {
    const std::string File = WriteProgram(Name);
    const int Before = Throttling.RequestCount();
    const TProcessResult Result = RunProcess(
        SignTool(), {"sign", "/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, Switch, Throttling.Url(), File});
    EXPECT_EQ(Result.ExitCode, 0) << Result.Err;
    EXPECT_EQ(Result.Err, "");
    ExpectSignedAndTimestamped(File);
    EXPECT_GE(Throttling.RequestCount() - Before, 2);
  }
  // A request the server turns down for good is not repeated.
  TimestampServer Rejecting(TTimestampBehaviour::Reject);
  const std::string File = WriteProgram("rejected.exe");
  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(SignCommand(File, Rejecting.Url()), ErrorText));
  EXPECT_EQ(ErrorText, TimestampWarning + File + "\n");
  EXPECT_EQ(Rejecting.RequestCount(), 1);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"rejected.exe", "throttled.exe", "throttledr.exe"}));
}

TEST_F(SignToolTest, SilentTimestampServerIsGivenUp) {
  TimestampServer Silent(TTimestampBehaviour::Silent);
  const std::string File = WriteProgram("patient.exe");
  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(SignCommand(File, Silent.Url()), ErrorText));
  EXPECT_EQ(ErrorText, TimestampWarning + File + "\n");
  EXPECT_TRUE(OsslVerify(File).SignatureOk);
}

TEST_F(SignToolTest, FilesThatCannotBeSigned) {
  TimestampServer Server;
  const std::string Missing = PathOf("missing.exe");
  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(SignCommand(Missing, Server.Url()), ErrorText));
  EXPECT_EQ(ErrorText, "SignTool Error: File not found: " + Missing +
                           "\nSignTool Error: An error occurred while attempting to sign: " + Missing + "\n");

  const std::string Text = PathOf("notes.exe");
  std::ofstream(Text) << "just some text\n";
  EXPECT_FALSE(RunAndCapture(SignCommand(Text, Server.Url()), ErrorText));
  EXPECT_EQ(ErrorText, "SignTool Error: This file format cannot be signed because it is not recognized.\n"
                       "SignTool Error: An error occurred while attempting to sign: " + Text + "\n");
  EXPECT_EQ(ReadBytes(Text), std::vector<std::uint8_t>({'j', 'u', 's', 't', ' ', 's', 'o', 'm', 'e', ' ', 't',
                                                        'e', 'x', 't', '\n'}));
  EXPECT_EQ(Entries(), (std::vector<std::string>{"notes.exe"}));
}

TEST_F(SignToolTest, KeepsPermissionsAndLinks) {
  TimestampServer Server;
  const std::string File = WriteProgram("private.exe");
  ::chmod(File.c_str(), 0751);
  const std::string Link = PathOf("link.exe");
  std::filesystem::create_symlink("private.exe", Link);

  std::string ErrorText;
  ASSERT_TRUE(RunAndCapture(SignCommand(Link, Server.Url()), ErrorText)) << ErrorText;
  struct stat Info {};
  ASSERT_EQ(::stat(File.c_str(), &Info), 0);
  EXPECT_EQ(Info.st_mode & 07777, 0751u);
  EXPECT_TRUE(std::filesystem::is_symlink(Link));
  ExpectSignedAndTimestamped(File);
}

TEST_F(SignToolTest, KeepsTheAclAndUserAttributes) {
  TimestampServer Server;
  const std::string File = WriteProgram("shared.exe");
  ASSERT_EQ(::chmod(File.c_str(), 0750), 0);
  // A named user with rwx raises the mask, and so the group's permission bits, to rwx; the group
  // itself may only read and run the program.
  ASSERT_TRUE(SetFacl(File, {"-m", "user:4243:rwx,group::r-x"}));
  ASSERT_EQ(::setxattr(File.c_str(), "user.origin", "nightly build", 13, 0), 0);
  const TFileAccess Before = AccessOf(File);

  std::string ErrorText;
  ASSERT_TRUE(RunAndCapture(SignCommand(File, Server.Url()), ErrorText)) << ErrorText;
  ExpectSignedAndTimestamped(File);
  EXPECT_EQ(AccessOf(File), Before);
  EXPECT_EQ(Entries(), std::vector<std::string>{"shared.exe"});
}

TEST_F(SignToolTest, FileAnotherProgramIsWritingIsLeftToIt) {
  TimestampServer Server;
  const std::string File = WriteProgram("growing.exe");
  const auto Original = ReadBytes(File);
  TAppendingWriter Writer(File);
  Writer.WaitForRecord(1);
  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(SignCommand(File, Server.Url()), ErrorText));
  EXPECT_EQ(ErrorText.substr(0, ErrorText.find('\n')),
            "SignTool Error: The file is being written by another process: " + File);
  Writer.WaitForRecord(Writer.RecordsWritten() + 1);
  Writer.Stop();
  EXPECT_TRUE(Writer.KeptEveryRecord(ReadBytes(File), Original));
  EXPECT_EQ(Entries(), std::vector<std::string>{"growing.exe"});
}

TEST_F(SignToolTest, CommandLineHandling) {
  const std::string File = WriteProgram("options.exe");
  const std::string Pfx = TestPki().PfxPath, Password = TestPki().PfxPassword;

  TProcessResult Result = RunProcess(SignTool(), {"sign", "/q", "/zz", "/f", Pfx, File});
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Err, "SignTool Error: Invalid option: /zz\n");
  Result = RunProcess(SignTool(), {"sign", "/q", "/f", Pfx, "/p", Password});
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Err, "SignTool Error: Missing filename.\n");
  Result = RunProcess(SignTool(), {"sign", "/f"});
  EXPECT_EQ(Result.Err, "SignTool Error: Missing parameter after option: /f\n");
  Result = RunProcess(SignTool(), {"sign", "/fd", "md5", "/f", Pfx, File});
  EXPECT_EQ(Result.Err, "SignTool Error: Invalid digest algorithm: md5\n");
  Result = RunProcess(SignTool(), {"sign", "/f", Pfx, "/t", "http://127.0.0.1:9/", "/td", "sha256", File});
  EXPECT_EQ(Result.Err, "SignTool Error: The /td option requires the /tr option.\n");
  Result = RunProcess(SignTool(), {"sign", "/f", Pfx, "/t", "http://127.0.0.1:9/", "/tr", "http://127.0.0.1:9/", File});
  EXPECT_EQ(Result.Err, "SignTool Error: The /t and /tr options are incompatible.\n");
  Result = RunProcess(SignTool(), {"catalog", File});
  EXPECT_EQ(Result.Err, "SignTool Error: Invalid command: catalog\n");
  Result = RunProcess(SignTool(), {"sign", "/?"});
  EXPECT_EQ(Result.ExitCode, 0);
  EXPECT_NE(Result.Out.find("Usage: signtool sign"), std::string::npos);
  EXPECT_EQ(ReadBytes(File), BuildPe({TPeKind::Exe32, 64 * 1024}));

  // Options in any case and with "-"; without /q success is told on standard output only.
  Result = RunProcess(SignTool(), {"SIGN", "-F", Pfx, "/P", Password, "/V", File});
  EXPECT_EQ(Result.ExitCode, 0) << Result.Err;
  EXPECT_EQ(Result.Err, "");
  EXPECT_EQ(Result.Out.find("Succeeded"), std::string::npos) << Result.Out;
  EXPECT_EQ(Result.Out.rfind("Successfully signed: " + File + "\n", 0), 0u) << Result.Out;
  EXPECT_NE(Result.Out.find("Number of files successfully Signed: 1"), std::string::npos);
  EXPECT_TRUE(OsslVerify(File).SignatureOk);
}

TEST_F(SignToolTest, PasswordStaysOutOfTheProcessList) {
  // A silent server keeps signtool running while its command line is read.
  TimestampServer Silent(TTimestampBehaviour::Silent);
  const std::string Password = "Secret in the process list";
  const std::string Pfx = PfxWithPassword(Password);
  const std::string File = WriteProgram("watched.exe");
  QProcess SignToolProcess;
  SignToolProcess.start(QString::fromStdString(SignTool()),
                        {"sign", "/q", "/f", QString::fromStdString(Pfx), "/p", QString::fromStdString(Password),
                         "/t", QString::fromStdString(Silent.Url()), QString::fromStdString(File)});
  ASSERT_TRUE(SignToolProcess.waitForStarted());
  QTRY_VERIFY_WITH_TIMEOUT(Silent.RequestCount() == 1, 20000);

  const std::string OwnCommandLine = Slurp("/proc/" + std::to_string(SignToolProcess.processId()) + "/cmdline");
  SignToolProcess.kill();
  SignToolProcess.waitForFinished();

  EXPECT_NE(OwnCommandLine.find(File), std::string::npos);
  EXPECT_EQ(OwnCommandLine.find("Secret"), std::string::npos);
}

TEST_F(SignToolTest, PasswordFromAnEnvironmentVariableOrADescriptor) {
  const std::string Password = "Secret kept off the command line";
  const std::string Pfx = PfxWithPassword(Password);

  const std::string ByVariable = WriteProgram("by variable.exe");
  QProcess FromVariable;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert("SIGNING_SECRET", QString::fromStdString(Password));
  FromVariable.setProcessEnvironment(Environment);
  FromVariable.start(QString::fromStdString(SignTool()), {"sign", "/q", "/f", QString::fromStdString(Pfx), "/penv",
                                                          "SIGNING_SECRET", QString::fromStdString(ByVariable)});
  ASSERT_TRUE(FromVariable.waitForFinished(20000));
  EXPECT_EQ(FromVariable.exitCode(), 0) << FromVariable.readAllStandardError().toStdString();
  EXPECT_TRUE(OsslVerify(ByVariable).SignatureOk);

  // Standard input, up to the line break; then a wrong one, and a variable that is not set.
  const std::string ByDescriptor = WriteProgram("by descriptor.exe");
  for (const auto& [Input, ExitCode] : {std::pair{Password + "\n", 0}, std::pair{std::string("wrong\n"), 1}}) {
    QProcess FromInput;
    FromInput.start(QString::fromStdString(SignTool()),
                    {"sign", "/q", "/f", QString::fromStdString(Pfx), "/pfd", "0", QString::fromStdString(ByDescriptor)});
    ASSERT_TRUE(FromInput.waitForStarted());
    FromInput.write(Input.data(), static_cast<qint64>(Input.size()));
    FromInput.closeWriteChannel();
    ASSERT_TRUE(FromInput.waitForFinished(20000));
    EXPECT_EQ(FromInput.exitCode(), ExitCode) << FromInput.readAllStandardError().toStdString();
  }
  EXPECT_TRUE(OsslVerify(ByDescriptor).SignatureOk);

  const TProcessResult Unset =
      RunProcess(SignTool(), {"sign", "/q", "/f", Pfx, "/penv", "QUILLORY_TEST_UNSET_VARIABLE", ByVariable});
  EXPECT_EQ(Unset.ExitCode, 1);
  EXPECT_EQ(Unset.Err, "SignTool Error: The environment variable QUILLORY_TEST_UNSET_VARIABLE is not set.\n");
  const TProcessResult Both = RunProcess(SignTool(), {"sign", "/q", "/f", Pfx, "/p", "x", "/pfd", "0", ByVariable});
  EXPECT_EQ(Both.ExitCode, 1);
}

// A run started ahead of its turn reads neither its key nor its file before the turn comes; the
// end of its input drops it without a word; a SIGTERM while it waits ends it by that signal.
TEST_F(SignToolTest, ARunAwaitingItsTurnTouchesNothingUntilGivenIt) {
  const std::string File = WriteProgram("waiting.exe");
  const std::vector<std::uint8_t> Before = ReadBytes(File);
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert(AwaitTurnVariable, "1");
  const auto Start = [&](QProcess& Run, const std::string& Pfx) {
    Run.setProcessEnvironment(Environment);
    Run.start(QString::fromStdString(SignTool()), {"sign", "/q", "/f", QString::fromStdString(Pfx), "/p",
                                                   QString::fromStdString(TestPki().PfxPassword),
                                                   QString::fromStdString(File)});
    ASSERT_TRUE(Run.waitForStarted());
  };

  QProcess Dropped;
  Start(Dropped, PathOf("no such key.pfx"));
  Dropped.closeWriteChannel();
  ASSERT_TRUE(Dropped.waitForFinished(20000));
  EXPECT_EQ(Dropped.exitCode(), 1);
  EXPECT_EQ(Dropped.readAllStandardError().toStdString(), "");
  EXPECT_EQ(ReadBytes(File), Before);

  QProcess Stopped;
  Start(Stopped, TestPki().PfxPath);
  EXPECT_FALSE(Stopped.waitForFinished(300));
  ::kill(static_cast<pid_t>(Stopped.processId()), SIGTERM);
  ASSERT_TRUE(Stopped.waitForFinished(20000));
  EXPECT_EQ(Stopped.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(ReadBytes(File), Before);

  QProcess Given;
  Start(Given, TestPki().PfxPath);
  EXPECT_FALSE(Given.waitForFinished(300));
  EXPECT_EQ(ReadBytes(File), Before);
  Given.write("g", 1);
  ASSERT_TRUE(Given.waitForFinished(20000));
  EXPECT_EQ(Given.exitCode(), 0) << Given.readAllStandardError().toStdString();
  EXPECT_TRUE(OsslVerify(File).SignatureOk);
}

TEST_F(SignToolTest, EachKindOfUnusableInputSaysWhatItIs) {
  TimestampServer Server;
  ASSERT_TRUE(QDir(Folder.path()).mkdir("folder.exe"));
  const std::string Directory = PathOf("folder.exe");
  const std::string Pipe = PathOf("pipe.exe");
  ASSERT_EQ(::mkfifo(Pipe.c_str(), 0644), 0);
  const std::string ReadOnly = WriteProgram("read-only.exe");
  ASSERT_EQ(::chmod(ReadOnly.c_str(), 0444), 0);
  const auto Original = ReadBytes(ReadOnly);
  const std::vector<std::string> Before = Entries();
  const auto Expect = [&](const std::string& File, const std::string& Reason) {
    std::string ErrorText;
    EXPECT_FALSE(RunAndCapture(SignCommand(File, Server.Url()), ErrorText));
    EXPECT_EQ(ErrorText, "SignTool Error: " + Reason + File +
                             "\nSignTool Error: An error occurred while attempting to sign: " + File + "\n");
  };
  Expect(Directory, "The specified file is a folder: ");
  Expect(Pipe, "The specified file is not a regular file: ");
  // Without any write permission bit a file stays as it is, whoever asks.
  Expect(ReadOnly, "Access is denied: the file cannot be written: ");
  EXPECT_EQ(ReadBytes(ReadOnly), Original);
  EXPECT_EQ(Entries(), Before);
}

TEST_F(SignToolTest, OrdinaryUserCannotReadOrWriteWhatTheModeForbids) {
  if (::geteuid() != 0) GTEST_SKIP() << "running signtool.exe as another user needs root";
  ASSERT_EQ(::chmod(Folder.path().toLocal8Bit().constData(), 0777), 0);
  const std::string Pfx = PathOf("user.pfx");
  WriteBytes(Pfx, ReadBytes(TestPki().PfxPath));
  const auto Sign = [&](const std::string& File) {
    return RunProcess("setpriv", {"--reuid=4243", "--regid=4243", "--clear-groups", SignTool(), "sign", "/q", "/f",
                                  Pfx, "/p", TestPki().PfxPassword, File});
  };
  const std::string WriteOnly = WriteProgram("write-only.exe");
  ASSERT_EQ(::chown(WriteOnly.c_str(), 4243, 4243), 0);
  ASSERT_EQ(::chmod(WriteOnly.c_str(), 0200), 0);
  TProcessResult Result = Sign(WriteOnly);
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Err.substr(0, Result.Err.find('\n')),
            "SignTool Error: Access is denied: the file cannot be read: " + WriteOnly);

  // Another user's file: the folder being writable does not make it the user's to change.
  const std::string Foreign = WriteProgram("foreign.exe");
  const auto Original = ReadBytes(Foreign);
  Result = Sign(Foreign);
  EXPECT_EQ(Result.Err.substr(0, Result.Err.find('\n')),
            "SignTool Error: Access is denied: the file cannot be written: " + Foreign);
  EXPECT_EQ(ReadBytes(Foreign), Original);
}

TEST_F(SignToolTest, FullDiskIsToldAsSuch) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const std::string Small = PathOf("small");
  ASSERT_TRUE(QDir(Folder.path()).mkdir("small"));
  if (RunProcess("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", Small}).ExitCode != 0)
    GTEST_SKIP() << "no tmpfs can be mounted here";
  const std::string File = Small + "/big.exe";
  WriteBytes(File, BuildPe({TPeKind::Exe32, 160 * 1024}));
  const auto Original = ReadBytes(File);
  const TProcessResult Result =
      RunProcess(SignTool(), {"sign", "/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, File});
  const std::vector<std::string> Left = [&] {
    std::vector<std::string> Names;
    for (const auto& Entry : std::filesystem::directory_iterator(Small)) Names.push_back(Entry.path().filename());
    return Names;
  }();
  const auto After = ReadBytes(File);
  RunProcess("umount", {Small});
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Err.substr(0, Result.Err.find('\n')),
            "SignTool Error: There is not enough space on the disk to sign: " + File);
  EXPECT_EQ(After, Original);
  EXPECT_EQ(Left, std::vector<std::string>{"big.exe"});
}

TEST_F(SignToolTest, PfxThatIsNoRegularFileIsRefusedAtOnce) {
  const std::string File = WriteProgram("waiting.exe");
  const std::string Pipe = PathOf("certificate.pfx");
  ASSERT_EQ(::mkfifo(Pipe.c_str(), 0644), 0);
  const TProcessResult Result = RunProcess(SignTool(), {"sign", "/q", "/f", Pipe, "/p", "x", File}, {}, 20000);
  EXPECT_EQ(Result.ExitCode, 1) << "did not return";
  EXPECT_EQ(Result.Err, "SignTool Error: The specified PFX file is not a regular file: " + Pipe + "\n");
}

TEST_F(SignToolTest, FileLockedByAnotherProgramIsRefused) {
  TimestampServer Server;
  const std::string File = WriteProgram("locked.exe");
  const auto Original = ReadBytes(File);
  QProcess Holder;
  Holder.start("flock", {"--no-fork", "--shared", QString::fromStdString(File), "sleep", "30"});
  ASSERT_TRUE(Holder.waitForStarted());
  const int Probe = ::open(File.c_str(), O_RDONLY | O_CLOEXEC);
  while (::flock(Probe, LOCK_EX | LOCK_NB) == 0) ::flock(Probe, LOCK_UN);
  ::close(Probe);
  std::string ErrorText;
  EXPECT_FALSE(RunAndCapture(SignCommand(File, Server.Url()), ErrorText));
  Holder.kill();
  Holder.waitForFinished();
  EXPECT_EQ(ErrorText.substr(0, ErrorText.find('\n')), "SignTool Error: The file is locked by another process: " + File);
  EXPECT_EQ(ReadBytes(File), Original);
}

TEST_F(SignToolTest, FileChangedWhileSigningKeepsTheOtherProgramsContent) {
  // The silent server holds the signing while the file is rewritten; stopping the server lets
  // the signing go on.
  std::optional<TimestampServer> Silent(std::in_place, TTimestampBehaviour::Silent);
  const std::string File = WriteProgram("changing.exe");
  QProcess Signing;
  StartSigning(Signing, File, Silent->Url());
  QTRY_VERIFY_WITH_TIMEOUT(Silent->RequestCount() == 1, 20000);
  const auto Rewritten = BuildPe({TPeKind::Exe64, 32 * 1024});
  WriteBytes(File, Rewritten);
  Silent.reset();
  ASSERT_TRUE(Signing.waitForFinished(60000));
  EXPECT_EQ(Signing.exitCode(), 1);
  const std::string Err = Signing.readAllStandardError().toStdString();
  EXPECT_EQ(Err.substr(0, Err.find('\n')),
            "SignTool Error: The file was changed by another process while it was being signed, and is left as "
            "that process wrote it: " + File);
  EXPECT_EQ(ReadBytes(File), Rewritten);
  EXPECT_EQ(Entries(), std::vector<std::string>{"changing.exe"});
}

TEST_F(SignToolTest, InterruptedRunCleansUpAndEndsByTheSignal) {
  TimestampServer Silent(TTimestampBehaviour::Silent);
  for (const int Signal : {SIGTERM, SIGHUP, SIGINT}) {
    const std::string File = WriteProgram("interrupted.exe");
    const auto Original = ReadBytes(File);
    const int Requests = Silent.RequestCount();
    QProcess Signing;
    StartSigning(Signing, File, Silent.Url());
    QTRY_VERIFY_WITH_TIMEOUT(Silent.RequestCount() == Requests + 1, 20000);
    ::kill(static_cast<pid_t>(Signing.processId()), Signal);
    ASSERT_TRUE(Signing.waitForFinished(20000));
    EXPECT_EQ(Signing.exitStatus(), QProcess::CrashExit) << Signal;
    EXPECT_EQ(ReadBytes(File), Original);
    EXPECT_EQ(Entries(), std::vector<std::string>{"interrupted.exe"}) << Signal;
  }
}

TEST_F(SignToolTest, KillAtAnyMomentLeavesTheFileWholeAndAtMostOneSmallLeftover) {
  TimestampServer Server;
  std::mt19937 Random(std::random_device{}());
  const std::string File = WriteProgram("killed.exe");
  const auto Original = ReadBytes(File);
  for (int Round = 0; Round < 8; ++Round) {
    WriteBytes(File, Original);
    QProcess Signing;
    StartSigning(Signing, File, Server.Url());
    ASSERT_TRUE(Signing.waitForStarted());
    QTest::qWait(static_cast<int>(Random() % 120));
    Signing.kill();
    Signing.waitForFinished();

    if (ReadBytes(File) != Original) {
      EXPECT_TRUE(OsslVerify(File).SignatureOk) << "round " << Round;
    }
    std::vector<std::string> Left = Entries();
    std::erase(Left, "killed.exe");
    ASSERT_LE(Left.size(), 1u) << Left.front();
    for (const std::string& Name : Left) {
      const std::string Path = PathOf(Name);
      EXPECT_EQ(Name.rfind(".quillory-new-", 0), 0u) << Name;
      std::filesystem::remove_all(Path);
    }
  }
}

TEST_F(SignToolTest, EveryPasswordThePfxAcceptsSigns) {
  TimestampServer Server;
  const std::string ByteOrderMark = "\xEF\xBB\xBF";
  const std::vector<std::pair<const char*, std::string>> Passwords{
      {"empty", ""},
      {"carriage return", "secret\r"},
      {"line feed", "secret\n"},
      {"both, inside too", "se\r\ncret\r\n"},
      {"byte-order mark", ByteOrderMark + "secret"},
      {"only a byte-order mark", ByteOrderMark},
      {"longer than a page", std::string(5000, 'x') + "!"}};
  for (const auto& [Name, Password] : Passwords) {
    const std::string Pfx = PfxWithPassword(Password);
    const std::string File = WriteProgram(std::string(Name) + ".exe");
    const TProcessResult Result =
        RunProcess(SignTool(), {"sign", "/q", "/f", Pfx, "/p", Password, "/t", Server.Url(), File});
    EXPECT_EQ(Result.ExitCode, 0) << Name << ": " << Result.Err;
    ExpectSignedAndTimestamped(File);

    // The same PFX still refuses a password that differs only in what a careless reader drops.
    const std::string Other = WriteProgram(std::string(Name) + " refused.exe");
    const TProcessResult Refused = RunProcess(SignTool(), {"sign", "/q", "/f", Pfx, "/p", Password + "\n", Other});
    EXPECT_EQ(Refused.Err, "SignTool Error: The specified PFX password is not correct.\n") << Name;
  }
  EXPECT_EQ(Entries().size(), 2 * Passwords.size());
}

TEST_F(SignToolTest, OnlyKnownOptionNamesAreOptions) {
  // Absolute paths start with "/" too: names that only resemble options are files.
  for (const std::string Path : {"/a.exe", "/p.exe", "/srv/build/x.exe"}) {
    const TProcessResult Result =
        RunProcess(SignTool(), {"sign", "/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, Path});
    EXPECT_EQ(Result.Err, "SignTool Error: File not found: " + Path +
                              "\nSignTool Error: An error occurred while attempting to sign: " + Path + "\n");
  }
  // Every word after the first file is a file, even a known option's name.
  const std::string File = WriteProgram("q");
  const TProcessResult Result =
      RunProcess(SignTool(), {"sign", "/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, File, "/d"});
  EXPECT_EQ(Result.Err, "SignTool Error: File not found: /d\nSignTool Error: An error occurred while attempting to sign: /d\n");
  EXPECT_TRUE(OsslVerify(File).SignatureOk);
}
