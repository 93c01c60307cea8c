// signtool.exe with keys on a PKCS#11 token (SoftHSM2), end to end through osslsigncode.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/PinRefusal.h"
#include "keys/AgentKey.h"
#include "signing/KeySession.h"
#include "signing/SignCommand.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/ScopedEnvironment.h"
#include "support/SoftToken.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
std::string SignTool() { return QCoreApplication::applicationDirPath().toStdString() + "/signtool.exe"; }

std::string Slurp(const std::string& Path) {
  std::ifstream Stream(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(Stream), {});
}

// Runs a command as the unprivileged user nobody.
const QStringList AsNobody{"--reuid=65534", "--regid=65534", "--clear-groups"};
TProcessResult RunAsNobody(const std::vector<std::string>& Command) {
  std::vector<std::string> Arguments;
  for (const QString& Option : AsNobody) Arguments.push_back(Option.toStdString());
  Arguments.insert(Arguments.end(), Command.begin(), Command.end());
  return RunProcess("setpriv", Arguments);
}

// Whether some process holds a flock on the file at Path.
bool IsLocked(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (Fd < 0) return false;
  const bool Locked = ::flock(Fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(Fd);
  return Locked;
}

// Has nobody hold a flock on Path (made if need be) until Holder is ended: one process, which
// leaves nothing behind when it is killed.
void HoldAsNobody(QProcess& Holder, const std::string& Path) {
  Holder.start("setpriv", AsNobody + QStringList{"sh", "-c", "exec 9>>\"$1\" && flock 9 && exec sleep 600", "sh",
                                                 QString::fromStdString(Path)});
  ASSERT_TRUE(Holder.waitForStarted());
  const QDeadlineTimer Limit(20000);
  while (!IsLocked(Path) && !Limit.hasExpired()) QTest::qWait(10);
  ASSERT_TRUE(IsLocked(Path)) << Path;
}

class SignToolTokenTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(SoftToken().Serial.empty()); }

  std::string WriteProgram(const std::string& Name) const {
    const std::string Path = Folder.filePath(QString::fromStdString(Name)).toStdString();
    WriteBytes(Path, BuildPe({TPeKind::Exe32, 64 * 1024}));
    return Path;
  }

  // Signs a fresh program with the key options given and the loopback timestamp server.
  TProcessResult Sign(const std::string& Name, std::vector<std::string> KeyOptions, std::string& File) {
    File = WriteProgram(Name);
    std::vector<std::string> Args{"sign", "/q"};
    Args.insert(Args.end(), KeyOptions.begin(), KeyOptions.end());
    Args.insert(Args.end(), {"/t", Server.Url(), "/d", "Token test", File});
    return RunProcess(SignTool(), Args);
  }

  TimestampServer Server;
  QTemporaryDir Folder;
};
}  // namespace

TEST_F(SignToolTokenTest, EveryWayOfNamingTheKeySignsAndVerifiesUnderOneLock) {
  QTemporaryDir Runtime;
  const TScopedEnvironment PrivateFolder("XDG_RUNTIME_DIR", Runtime.path().toStdString());
  const TSoftToken& Token = SoftToken();
  const TTestPki& Pki = TestPki();
  std::string Sha1WithBlanks;
  for (std::size_t I = 0; I < Token.EcSha1.size(); I += 2) Sha1WithBlanks += Token.EcSha1.substr(I, 2) + " ";
  struct TForm {
    const char* Name;
    std::vector<std::string> Options;
    std::string Signer;
  };
  const std::vector<TForm> Forms{
      {"uri-rsa", {"/kc", Token.RsaKeyUri, "/p", Token.Pin}, Pki.SignerCommonName},
      {"uri-ec", {"/kc", Token.EcKeyUri, "/p", Token.Pin}, Pki.EcSignerCommonName},
      {"uri-module-path", {"/kc", Token.EcKeyUri + "?module-path=" + Token.Module, "/p", Token.Pin},
       Pki.EcSignerCommonName},
      {"csp-label", {"/csp", Token.Module, "/kc", Token.EcLabel, "/p", Token.Pin}, Pki.EcSignerCommonName},
      {"label-cert-file", {"/kc", Token.RsaKeyLabel, "/f", Pki.SignerCertPath, "/p", Token.Pin}, Pki.SignerCommonName},
      {"cert-file", {"/kc", Token.RsaKeyUri, "/f", Pki.SignerCertPath, "/ac", Pki.CaCertPath, "/p", Token.Pin},
       Pki.SignerCommonName},
      {"sha1", {"/sha1", Sha1WithBlanks, "/p", Token.Pin}, Pki.EcSignerCommonName},
      {"name", {"/csp", Token.Module, "/n", "test signer", "/p", Token.Pin}, Pki.SignerCommonName}};
  for (const TForm& Form : Forms) {
    std::string File;
    const TProcessResult Result = Sign(std::string(Form.Name) + ".exe", Form.Options, File);
    EXPECT_EQ(Result.ExitCode, 0) << Form.Name << ": " << Result.Err;
    EXPECT_EQ(Result.Err, "") << Form.Name;
    const TOsslVerdict Verify = OsslVerify(File);
    EXPECT_TRUE(Verify.SignatureOk && Verify.TimestampOk) << Form.Name << "\n" << Verify.Output;
    EXPECT_NE(Verify.Output.find("CN=" + Form.Signer + "\n"), std::string::npos) << Form.Name << "\n" << Verify.Output;
  }
  // By label, serial number or none, through p11-kit's proxy or the token's own module: one
  // token, one lock, besides the one under which tokens are looked up.
  EXPECT_EQ(QDir(Runtime.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
}

TEST_F(SignToolTokenTest, EachKindOfTokenProblemHasItsOwnErrorAndLeavesTheFileAlone) {
  const TSoftToken& Token = SoftToken();
  struct TCase {
    const char* Name;
    std::vector<std::string> Options;
    std::string Error;
  };
  const std::vector<TCase> Cases{
      {"wrong-pin", {"/kc", Token.RsaKeyUri, "/p", "1111 2222"},
       "The card cannot be accessed because the wrong PIN was presented."},
      {"absent-token", {"/kc", "pkcs11:token=Not%20Plugged%20In;id=%01", "/p", Token.Pin},
       "No token holding the key is present: pkcs11:token=Not%20Plugged%20In;id=%01;type=private"},
      {"missing-module", {"/csp", "/nonexistent/pkcs11-module.so", "/kc", Token.RsaKeyUri, "/p", Token.Pin},
       "The PKCS#11 module could not be loaded: /nonexistent/pkcs11-module.so"},
      {"missing-module-lookup", {"/csp", "/nonexistent/pkcs11-module.so", "/n", "Signer", "/p", Token.Pin},
       "The PKCS#11 module could not be loaded: /nonexistent/pkcs11-module.so"},
      {"ambiguous-name", {"/n", "Quillory Test", "/p", Token.Pin},
       "Several certificates were found that met all the given criteria; choose one with /sha1."},
      {"unknown-thumbprint", {"/sha1", std::string(40, 'A'), "/p", Token.Pin},
       "No certificates were found that met all the given criteria."},
      {"unknown-name", {"/n", "Nobody", "/p", Token.Pin}, "No certificates were found that met all the given criteria."},
      {"missing-key", {"/kc", "pkcs11:token=Quillory%20Test%20Token;id=%09", "/f", TestPki().SignerCertPath, "/p",
                       Token.Pin},
       "The private key was not found on the token: pkcs11:token=Quillory%20Test%20Token;id=%09;type=private"}};
  for (const TCase& Case : Cases) {
    std::string File;
    const TProcessResult Result = Sign(std::string(Case.Name) + ".exe", Case.Options, File);
    EXPECT_EQ(Result.ExitCode, 1) << Case.Name;
    EXPECT_EQ(Result.Err, "SignTool Error: " + Case.Error + "\n") << Case.Name;
    EXPECT_EQ(ReadBytes(File), BuildPe({TPeKind::Exe32, 64 * 1024})) << Case.Name;
  }
  // The failures were told without asking the time-stamp server.
  EXPECT_EQ(Server.RequestCount(), 0);
}

// The window stops presenting a PIN the token refused, whichever language the run spoke.
TEST_F(SignToolTokenTest, AWrongPinIsRecognisedInEitherLanguage) {
  const std::map<QString, std::string> Refusals{
      {"zh_CN", "SignTool Error: 无法访问智能卡，因为提供的PIN码不正确。\n"},
      {"en", "SignTool Error: The card cannot be accessed because the wrong PIN was presented.\n"}};
  for (const auto& [Language, Refusal] : Refusals) {
    const TScopedEnvironment Chosen("QUILLORY_LANGUAGE", Language.toStdString());
    std::string File;
    const TProcessResult Result = Sign("wrong-pin.exe", {"/kc", SoftToken().RsaKeyUri, "/p", "1111 2222"}, File);
    EXPECT_EQ(Result.Err, Refusal);
    const TSignOutcome Outcome = ClassifySignRun(false, Result.Err);
    EXPECT_EQ(Outcome.Status, fsFailed);
    EXPECT_EQ(Outcome.PinRefusal, TPinRefusal::Wrong) << Result.Err;
  }
}

TEST_F(SignToolTokenTest, EightProcessesOnOneTokenAllSucceed) {
  const TSoftToken& Token = SoftToken();
  std::vector<std::unique_ptr<QProcess>> Processes;
  std::vector<std::string> Files;
  for (int I = 0; I < 8; ++I) {
    Files.push_back(WriteProgram("parallel-" + std::to_string(I) + ".exe"));
    auto& Process = Processes.emplace_back(std::make_unique<QProcess>());
    Process->start(QString::fromStdString(SignTool()),
                   {"sign", "/q", "/kc", QString::fromStdString(I % 2 ? Token.RsaKeyUri : Token.EcKeyUri), "/p",
                    QString::fromStdString(Token.Pin), "/t", QString::fromStdString(Server.Url()),
                    QString::fromStdString(Files.back())});
  }
  for (std::size_t I = 0; I < Processes.size(); ++I) {
    ASSERT_TRUE(Processes[I]->waitForFinished(120000));
    EXPECT_EQ(Processes[I]->exitCode(), 0) << Processes[I]->readAllStandardError().toStdString();
    const TOsslVerdict Verify = OsslVerify(Files[I]);
    EXPECT_TRUE(Verify.SignatureOk && Verify.TimestampOk) << Verify.Output;
  }
}

TEST_F(SignToolTokenTest, PinIsOnNoCommandLine) {
  // A silent server keeps signtool running while its command line is read.
  TimestampServer Silent(TTimestampBehaviour::Silent);
  const TSoftToken& Token = SoftToken();
  const std::string File = WriteProgram("watched.exe");
  QProcess SignToolProcess;
  SignToolProcess.start(QString::fromStdString(SignTool()),
                        {"sign", "/q", "/kc", QString::fromStdString(Token.RsaKeyUri), "/p",
                         QString::fromStdString(Token.Pin), "/t", QString::fromStdString(Silent.Url()),
                         QString::fromStdString(File)});
  ASSERT_TRUE(SignToolProcess.waitForStarted());
  QTRY_VERIFY_WITH_TIMEOUT(Silent.RequestCount() == 1, 20000);

  const std::string Pid = std::to_string(SignToolProcess.processId());
  const std::string OwnCommandLine = Slurp("/proc/" + Pid + "/cmdline");
  SignToolProcess.kill();
  SignToolProcess.waitForFinished();

  EXPECT_NE(OwnCommandLine.find(Token.RsaKeyUri), std::string::npos);
  EXPECT_EQ(OwnCommandLine.find(Token.Pin), std::string::npos);
}

TEST_F(SignToolTokenTest, TheTokenIsFreeWhileTheServerIsWaitedFor) {
  // Two runs on one token against a server that never answers: the second signs and asks for
  // its time-stamp while the first still waits for the server, which may take 20 seconds.
  TimestampServer Silent(TTimestampBehaviour::Silent);
  const TSoftToken& Token = SoftToken();
  std::vector<std::unique_ptr<QProcess>> Processes;
  for (const char* Name : {"first.exe", "second.exe"}) {
    auto& Process = Processes.emplace_back(std::make_unique<QProcess>());
    Process->start(QString::fromStdString(SignTool()),
                   {"sign", "/q", "/kc", QString::fromStdString(Token.EcKeyUri), "/p",
                    QString::fromStdString(Token.Pin), "/t", QString::fromStdString(Silent.Url()),
                    QString::fromStdString(WriteProgram(Name))});
    ASSERT_TRUE(Process->waitForStarted());
  }
  // Not QTRY: it would go on waiting past its limit, into the first run's next try.
  const QDeadlineTimer Limit(15000);
  while (Silent.RequestCount() < 2 && !Limit.hasExpired()) QTest::qWait(50);
  EXPECT_EQ(Silent.RequestCount(), 2);
  for (auto& Process : Processes) {
    Process->kill();
    Process->waitForFinished();
  }
}

TEST_F(SignToolTokenTest, AWaitForATokenAnotherProcessHoldsEndsWhenTheRunIsInterrupted) {
  QTemporaryDir Runtime;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert("XDG_RUNTIME_DIR", Runtime.path());
  const TSoftToken& Token = SoftToken();
  const auto Start = [&](QProcess& Process, const std::string& File) {
    Process.setProcessEnvironment(Environment);
    Process.start(QString::fromStdString(SignTool()),
                  {"sign", "/q", "/kc", QString::fromStdString(Token.EcKeyUri), "/p",
                   QString::fromStdString(Token.Pin), QString::fromStdString(File)});
  };
  // A first run leaves the token's lock file behind; then this process holds every lock there.
  QProcess First;
  Start(First, WriteProgram("first.exe"));
  ASSERT_TRUE(First.waitForFinished(60000));
  ASSERT_EQ(First.exitCode(), 0) << First.readAllStandardError().toStdString();
  std::vector<int> Held;
  for (const QFileInfo& Lock : QDir(Runtime.path()).entryInfoList(QDir::Files)) {
    const int Fd = ::open(QFile::encodeName(Lock.filePath()).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(Fd, LOCK_EX), 0);
    Held.push_back(Fd);
  }
  ASSERT_FALSE(Held.empty());

  const std::string File = WriteProgram("waiting.exe");
  const auto Original = ReadBytes(File);
  QProcess Waiting;
  Start(Waiting, File);
  ASSERT_TRUE(Waiting.waitForStarted());
  EXPECT_FALSE(Waiting.waitForFinished(1500)) << "signed while another process held the token";
  ::kill(static_cast<pid_t>(Waiting.processId()), SIGTERM);
  ASSERT_TRUE(Waiting.waitForFinished(10000)) << "the wait for the token outlived the interruption";
  EXPECT_EQ(Waiting.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(ReadBytes(File), Original);
  for (const int Fd : Held) ::close(Fd);
}

TEST_F(SignToolTokenTest, AnotherUsersFilesWhereTheLocksAreOrWereNeitherBlockNorStallSigning) {
  const TSoftToken& Token = SoftToken();
  const std::string SerialUri = "pkcs11:serial=" + Token.Serial + ";id=%01";
  QTemporaryDir Shared;
  ASSERT_EQ(::chmod(QFile::encodeName(Shared.path()).constData(), 01777), 0);
  const std::string SharedPath = Shared.path().toStdString();
  // A runtime folder every user may write to is no private folder.
  const TScopedEnvironment Runtime("XDG_RUNTIME_DIR", Shared.path().toStdString());
  const TScopedEnvironment Temporary("TMPDIR", Shared.path().toStdString());

  // Where the locks used to be: in $XDG_RUNTIME_DIR (or /tmp), named by a hash of the token as
  // the URI named it. A named pipe there kept the open waiting for ever, a lock held there
  // stalled signing until the run's time limit.
  const auto FormerLock = [&SharedPath](const std::string& Token) {
    std::uint64_t Hash = 14695981039346656037ull;
    for (unsigned char C : Token) Hash = (Hash ^ C) * 1099511628211ull;
    char Name[64];
    std::snprintf(Name, sizeof(Name), "/quillory-token-%016llx.lock", static_cast<unsigned long long>(Hash));
    return SharedPath + Name;
  };
  ASSERT_EQ(RunAsNobody({"mkfifo", FormerLock("token:" + Token.Label)}).ExitCode, 0);
  QProcess FormerHolder;
  ASSERT_NO_FATAL_FAILURE(HoldAsNobody(FormerHolder, FormerLock("serial:" + Token.Serial)));
  for (const std::string& Uri : {Token.RsaKeyUri, SerialUri}) {
    std::string File;
    const TProcessResult Result = Sign("former.exe", {"/kc", Uri, "/p", Token.Pin}, File);
    EXPECT_EQ(Result.ExitCode, 0) << Uri << ": " << Result.Err;
    EXPECT_TRUE(OsslVerify(File).SignatureOk) << Uri;
  }
  const std::string Folder = SharedPath + "/quillory-" + std::to_string(::geteuid());
  const QStringList Locks = QDir(QString::fromStdString(Folder)).entryList(QDir::Files);
  ASSERT_EQ(Locks.size(), 2);  // the token's, and the one under which tokens are looked up
  const std::string LockName = Locks.front().toStdString();

  // Where they are now without a private runtime folder, taken by another user first.
  QTemporaryDir OwnFolder;
  struct TTrap {
    const char* Name;
    std::vector<std::vector<std::string>> Commands;
    bool HoldsLock;
  };
  const std::vector<TTrap> Traps{
      {"pipe", {{"mkfifo", Folder}}, false},
      {"pipe-inside", {{"mkdir", "-m", "0777", Folder}, {"mkfifo", Folder + "/" + LockName}}, false},
      {"lock-inside", {{"mkdir", "-m", "0777", Folder}}, true},
      {"link", {{"ln", "-s", OwnFolder.path().toStdString(), Folder}}, false}};
  const std::string Refusal = "SignTool Error: The folder for the token locks, " + Folder +
                              ", is not a folder of this user that no one else may enter; another user may have made "
                              "it. Set XDG_RUNTIME_DIR to a private folder to sign with a token.\n";
  for (const TTrap& Trap : Traps) {
    std::filesystem::remove_all(Folder);
    for (const std::vector<std::string>& Command : Trap.Commands) ASSERT_EQ(RunAsNobody(Command).ExitCode, 0);
    QProcess Holder;
    if (Trap.HoldsLock) {
      ASSERT_NO_FATAL_FAILURE(HoldAsNobody(Holder, Folder + "/" + LockName));
    }
    std::string File;
    const TProcessResult Result = Sign(std::string(Trap.Name) + ".exe", {"/kc", SerialUri, "/p", Token.Pin}, File);
    EXPECT_EQ(Result.ExitCode, 1) << Trap.Name;
    EXPECT_EQ(Result.Err, Refusal) << Trap.Name;
    EXPECT_EQ(ReadBytes(File), BuildPe({TPeKind::Exe32, 64 * 1024})) << Trap.Name;
    Holder.kill();
    Holder.waitForFinished();
  }
  FormerHolder.kill();
  FormerHolder.waitForFinished();
}

TEST_F(SignToolTokenTest, TwoTokensWithOneLabelAskForTheSerialNumber) {
  const TSoftToken& Token = SoftToken();
  ASSERT_EQ(RunProcess("softhsm2-util", {"--init-token", "--free", "--label", Token.Label, "--pin", Token.Pin,
                                         "--so-pin", "12345678"})
                .ExitCode,
            0);
  std::string Twin;
  const std::string Slots = RunProcess("softhsm2-util", {"--show-slots"}).Out;
  for (std::size_t At = Slots.find("Serial number:"); At != std::string::npos;
       At = Slots.find("Serial number:", At + 1)) {
    std::istringstream Line(Slots.substr(At + 14, Slots.find('\n', At) - At - 14));
    std::string Serial;
    if (Line >> Serial && Serial != Token.Serial) Twin = Serial;
  }
  ASSERT_FALSE(Twin.empty()) << Slots;
  const auto RemoveTwin = qScopeGuard([&Twin] { RunProcess("softhsm2-util", {"--delete-token", "--serial", Twin}); });

  std::string File;
  TProcessResult Result = Sign("twin.exe", {"/kc", Token.RsaKeyUri, "/p", Token.Pin}, File);
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Err.rfind("SignTool Error: The token label \"" + Token.Label +
                                 "\" is ambiguous: 2 present tokens carry it. Name the one to use by its serial number "
                                 "in the URI: serial=",
                             0),
            0u)
      << Result.Err;
  EXPECT_NE(Result.Err.find("serial=" + Token.Serial), std::string::npos) << Result.Err;
  EXPECT_NE(Result.Err.find("serial=" + Twin), std::string::npos) << Result.Err;
  EXPECT_EQ(ReadBytes(File), BuildPe({TPeKind::Exe32, 64 * 1024}));

  Result = Sign("serial.exe", {"/kc", Token.RsaKeyUri + ";serial=" + Token.Serial, "/p", Token.Pin}, File);
  EXPECT_EQ(Result.ExitCode, 0) << Result.Err;
  EXPECT_TRUE(OsslVerify(File).SignatureOk);
}

TEST_F(SignToolTokenTest, TheWindowsKeySessionTakesTurnsWithRunsOnTheSameToken) {
  QTemporaryDir Runtime;
  const TScopedEnvironment PrivateFolder("XDG_RUNTIME_DIR", Runtime.path().toStdString());
  const TSoftToken& Token = SoftToken();
  std::string File;
  // A first run leaves the token's lock files behind.
  const TProcessResult First = Sign("first.exe", {"/kc", Token.EcKeyUri, "/p", Token.Pin}, File);
  ASSERT_EQ(First.ExitCode, 0) << First.Err;
  // While this test holds every lock, as a run on the token would, the session waits its turn.
  std::vector<int> Held;
  const auto Hold = [&] {
    for (const QFileInfo& Lock : QDir(Runtime.path()).entryInfoList({"*.lock"}, QDir::Files)) {
      Held.push_back(::open(QFile::encodeName(Lock.filePath()).constData(), O_RDONLY | O_CLOEXEC));
      ASSERT_EQ(::flock(Held.back(), LOCK_EX), 0);
    }
    ASSERT_FALSE(Held.empty());
  };
  const auto Release = [&] {
    for (const int Fd : Held) ::close(Fd);
    Held.clear();
  };
  const auto ReleaseAtEnd = qScopeGuard(Release);

  Hold();
  auto Opening = std::async(std::launch::async, [&] { return OpenKeySession(Token.EcKeyUri, Token.Pin); });
  EXPECT_EQ(Opening.wait_for(std::chrono::milliseconds(1500)), std::future_status::timeout)
      << "logged in while another process held the token";
  Release();
  const TKeySessionOpening Opened = Opening.get();
  ASSERT_TRUE(Opened.Session) << Opened.Message.toStdString();

  TAgentKey::TConnectResult Client = TAgentKey::Connect(Opened.Session->Agent->SocketPath());
  ASSERT_TRUE(Client.Key) << Client.Error;
  const std::vector<std::uint8_t> Digest(32, 0x5a);
  Hold();
  auto Signing = std::async(std::launch::async, [&] { return Client.Key->SignDigest(Digest, EVP_sha256()); });
  EXPECT_EQ(Signing.wait_for(std::chrono::milliseconds(1500)), std::future_status::timeout)
      << "signed while another process held the token";
  Release();
  EXPECT_FALSE(Signing.get().Value.empty());
}

TEST_F(SignToolTokenTest, ALockedPinIsToldApartFromAWrongOneByRunsAndByTheWindowsSession) {
  QTemporaryDir Runtime;
  const TScopedEnvironment PrivateFolder("XDG_RUNTIME_DIR", Runtime.path().toStdString());
  const TSoftToken& Token = SoftToken();
  const TScopedEnvironment Target("QUILLORY_LOCKED_PIN_TARGET", Token.Module);
  const std::string LockedUri = Token.EcKeyUri + "?module-path=" + QUILLORY_LOCKED_PIN_MODULE;

  // The wrong PIN first: a locked token is noted as such for the runs under way then.
  std::string Locked, Wrong;
  const TProcessResult WrongRun = Sign("wrong.exe", {"/kc", Token.EcKeyUri, "/p", Token.Pin + "0"}, Wrong);
  const TProcessResult LockedRun = Sign("locked.exe", {"/kc", LockedUri, "/p", Token.Pin}, Locked);
  EXPECT_EQ(LockedRun.ExitCode, 1);
  EXPECT_NE(LockedRun.Err.find(PinRefusalText(TPinRefusal::Locked, TMessageLanguage::English)), std::string::npos) << LockedRun.Err;
  EXPECT_EQ(WrongRun.Err.find(PinRefusalText(TPinRefusal::Locked, TMessageLanguage::English)), std::string::npos) << WrongRun.Err;
  for (const std::string& File : {Locked, Wrong})
    EXPECT_EQ(ReadBytes(File), BuildPe({TPeKind::Exe32, 64 * 1024})) << File;

  // The window says which of the two it is, and leads the user to the PIN box for either.
  const TKeySessionOpening WrongSession = OpenKeySession(Token.EcKeyUri, Token.Pin + "0");
  const TKeySessionOpening LockedSession = OpenKeySession(LockedUri, Token.Pin);
  ASSERT_FALSE(LockedSession.Session);
  ASSERT_FALSE(WrongSession.Session);
  EXPECT_EQ(LockedSession.Failure, TKeySessionFailure::Secret);
  EXPECT_EQ(WrongSession.Failure, TKeySessionFailure::Secret);
  EXPECT_NE(LockedSession.Message, WrongSession.Message);
}
