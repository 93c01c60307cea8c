// signtool.exe as a build machine runs it: many files per call, lists and patterns, several at
// once, and the verify and remove commands with their exit codes.
#include <gtest/gtest.h>

#include <signal.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "authenticode/VerifySignature.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
std::string SignTool() { return QCoreApplication::applicationDirPath().toStdString() + "/signtool.exe"; }

class SignToolCommandsTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const { return Folder.filePath(QString::fromStdString(Name)).toStdString(); }

  std::string WriteProgram(const std::string& Name) const {
    const std::string Path = PathOf(Name);
    WriteBytes(Path, BuildPe({TPeKind::Exe64, 64 * 1024}));
    return Path;
  }

  TProcessResult Verify(const std::vector<std::string>& Files) const {
    std::vector<std::string> Arguments{"verify", "/pa", "/trust", TestPki().CaCertPath + ";" + TestPki().TsaCaCertPath};
    Arguments.insert(Arguments.end(), Files.begin(), Files.end());
    return RunProcess(SignTool(), Arguments);
  }

  QTemporaryDir Folder;
};
}  // namespace

TEST_F(SignToolCommandsTest, AListAndAQuotedPatternSignSeveralFilesAtOnceWithOneServer) {
  TimestampServer Server;
  std::vector<std::string> Listed, Matched;
  for (int I = 0; I < 3; ++I) Listed.push_back(WriteProgram("listed " + std::to_string(I) + ".exe"));
  for (int I = 0; I < 3; ++I) Matched.push_back(WriteProgram("matched" + std::to_string(I) + ".dll"));
  const std::string List = PathOf("files.txt");
  {
    std::ofstream Out(List);
    for (const std::string& File : Listed) Out << File << "\r\n";
    Out << "\n";
  }
  const std::vector<std::uint8_t> Unsigned = ReadBytes(Listed.front());
  const TProcessResult Result =
      RunProcess(SignTool(), {"sign", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, "/mt", "3", "/tr",
                              Server.Url(), "/report", PathOf("report.json"), "@" + List, PathOf("matched*.dll")});
  EXPECT_EQ(Result.ExitCode, 0) << Result.Err;
  for (const auto* Group : {&Listed, &Matched})
    for (const std::string& File : *Group) {
      EXPECT_NE(Result.Out.find("Successfully signed: " + File + "\n"), std::string::npos) << Result.Out;
      const TOsslVerdict Verdict = OsslVerify(File);
      EXPECT_TRUE(Verdict.SignatureOk && Verdict.TimestampOk) << File << "\n" << Verdict.Output;
    }
  EXPECT_EQ(Server.RequestCount(), 6);

  // The report names every file with what it was before and is now.
  QFile ReportFile(QString::fromStdString(PathOf("report.json")));
  ASSERT_TRUE(ReportFile.open(QIODevice::ReadOnly));
  const QJsonObject Report = QJsonDocument::fromJson(ReportFile.readAll()).object();
  EXPECT_EQ(Report["signer"].toString().toStdString(), TestPki().SignerCommonName);
  EXPECT_EQ(Report["thumbprint"].toString().size(), 40);
  const QJsonArray Entries = Report["files"].toArray();
  ASSERT_EQ(Entries.size(), 6);
  const auto Sha256 = [](const std::vector<std::uint8_t>& Bytes) {
    return QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(Bytes.data()), static_cast<qsizetype>(Bytes.size())),
                                    QCryptographicHash::Sha256).toHex();
  };
  for (const QJsonValue& Value : Entries) {
    const QJsonObject Entry = Value.toObject();
    const std::string File = Entry["path"].toString().toStdString();
    EXPECT_EQ(Entry["result"].toString(), "signed") << File;
    EXPECT_EQ(Entry["sha256Before"].toString().toLatin1(), Sha256(Unsigned)) << File;
    EXPECT_EQ(Entry["sha256After"].toString().toLatin1(), Sha256(ReadBytes(File))) << File;
    EXPECT_EQ(Entry["timestampServer"].toString().toStdString(), Server.Url()) << File;
    EXPECT_TRUE(Entry["timestamp"].toString().endsWith('Z')) << File;
  }

  const TProcessResult NoMatch = RunProcess(SignTool(), {"sign", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword,
                                                         PathOf("nothing*.exe")});
  EXPECT_EQ(NoMatch.ExitCode, 1);
  EXPECT_EQ(NoMatch.Err, "SignTool Error: No file matches the pattern: " + PathOf("nothing*.exe") + "\n");
  const TProcessResult NoList =
      RunProcess(SignTool(), {"sign", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, "@" + PathOf("none.txt")});
  EXPECT_EQ(NoList.ExitCode, 1);
}

TEST_F(SignToolCommandsTest, VerifyMapsEachVerdictOntoTheExitCodeAndRemoveTakesTheSignatureOut) {
  TimestampServer Server;
  const std::string Stamped = WriteProgram("stamped.exe");
  const std::string Plain = WriteProgram("plain.exe");
  const std::string Unsigned = WriteProgram("unsigned.exe");
  const std::vector<std::uint8_t> Original = ReadBytes(Plain);
  ASSERT_EQ(RunProcess(SignTool(), {"sign", "/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, "/t",
                                    Server.Url(), Stamped}).ExitCode, 0);
  ASSERT_EQ(RunProcess(SignTool(), {"sign", "/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, Plain}).ExitCode,
            0);

  EXPECT_EQ(Verify({Stamped}).ExitCode, 0);
  const TProcessResult NoTimestamp = Verify({Plain});
  EXPECT_EQ(NoTimestamp.ExitCode, 2);
  EXPECT_EQ(NoTimestamp.Out, "Successfully verified: " + Plain + "\n");
  const TProcessResult None = Verify({Unsigned, Stamped});
  EXPECT_EQ(None.ExitCode, 1);
  EXPECT_EQ(None.Err, "SignTool Error: No signature found. " + Unsigned + "\n");

  // Without the test CA the chain ends in a root no one trusts.
  EXPECT_EQ(RunProcess(SignTool(), {"verify", "/pa", Stamped}).ExitCode, 1);

  // A changed byte of code.
  std::vector<std::uint8_t> Bytes = ReadBytes(Stamped);
  Bytes[0x2000] ^= 1;
  WriteBytes(Stamped, Bytes);
  const TProcessResult Tampered = Verify({Stamped});
  EXPECT_EQ(Tampered.ExitCode, 1);
  EXPECT_EQ(Tampered.Err, "SignTool Error: The digital signature of the object did not verify. " + Stamped + "\n");

  EXPECT_EQ(RunProcess(SignTool(), {"remove", Plain}).ExitCode, 1);  // without /s
  const TProcessResult Removed = RunProcess(SignTool(), {"remove", "/s", Plain});
  EXPECT_EQ(Removed.ExitCode, 0) << Removed.Err;
  EXPECT_EQ(ReadBytes(Plain), Original);
  EXPECT_EQ(RunProcess(SignTool(), {"remove", "/s", Unsigned}).ExitCode, 1);
}

TEST_F(SignToolCommandsTest, ALazyRunLeavesWhatThisCertificateSignedAndSignsTheRest) {
  TimestampServer Server;
  const std::string Done = WriteProgram("done.exe");
  const std::string Unstamped = WriteProgram("unstamped.exe");
  const std::string Other = WriteProgram("other signer.exe");
  const std::string Left = WriteProgram("left.exe");
  const auto Sign = [&](std::vector<std::string> Arguments) {
    Arguments.insert(Arguments.begin(), "sign");
    return RunProcess(SignTool(), Arguments);
  };
  ASSERT_EQ(Sign({"/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, "/t", Server.Url(), Done}).ExitCode, 0);
  ASSERT_EQ(Sign({"/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, Unstamped}).ExitCode, 0);
  ASSERT_EQ(Sign({"/q", "/f", BackdatedPki().ExpiredPfxPath, "/p", BackdatedPki().ExpiredPfxPassword,
                  Other}).ExitCode, 0);
  const std::vector<std::uint8_t> DoneBefore = ReadBytes(Done);
  const int Requests = Server.RequestCount();

  const TProcessResult Lazy =
      Sign({"/lazy", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, "/t", Server.Url(), Done, Unstamped, Other, Left});
  EXPECT_EQ(Lazy.ExitCode, 0) << Lazy.Err;
  EXPECT_NE(Lazy.Out.find("left as it is: " + Done + "\n"), std::string::npos) << Lazy.Out;
  EXPECT_EQ(ReadBytes(Done), DoneBefore);
  // The one without a timestamp, the other signer's and the unsigned one were signed now.
  EXPECT_EQ(Server.RequestCount(), Requests + 3);
  for (const std::string& File : {Unstamped, Other, Left}) {
    const TOsslVerdict Verdict = OsslVerify(File);
    EXPECT_TRUE(Verdict.SignatureOk && Verdict.TimestampOk) << File << "\n" << Verdict.Output;
    EXPECT_NE(Verdict.Output.find(TestPki().SignerCommonName), std::string::npos) << File;
  }
}

TEST_F(SignToolCommandsTest, AnInterruptedParallelRunLeavesEveryFileWhole) {
  TimestampServer Silent(TTimestampBehaviour::Silent);
  std::vector<std::string> Files;
  QStringList Arguments{"sign", "/q", "/f", QString::fromStdString(TestPki().PfxPath), "/p",
                        QString::fromStdString(TestPki().PfxPassword), "/mt", "4", "/t",
                        QString::fromStdString(Silent.Url())};
  for (int I = 0; I < 6; ++I) {
    Files.push_back(WriteProgram("waiting" + std::to_string(I) + ".exe"));
    Arguments << QString::fromStdString(Files.back());
  }
  const std::vector<std::uint8_t> Original = ReadBytes(Files.front());
  QProcess Signing;
  Signing.start(QString::fromStdString(SignTool()), Arguments);
  QTRY_VERIFY_WITH_TIMEOUT(Silent.RequestCount() == 4, 20000);
  ::kill(static_cast<pid_t>(Signing.processId()), SIGTERM);
  ASSERT_TRUE(Signing.waitForFinished(10000));
  EXPECT_EQ(Signing.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(Silent.RequestCount(), 4);  // no further file was begun
  for (const std::string& File : Files) EXPECT_EQ(ReadBytes(File), Original) << File;
}

TEST_F(SignToolCommandsTest, FilesSignedSeveralAtOnceAreToldInTheOrderGiven) {
  // The first file takes longest, so that the others end before it when they overlap; a missing
  // file in the middle fails at its place.
  std::vector<std::string> Files{PathOf("large.exe")};
  WriteBytes(Files.front(), BuildPe({TPeKind::Exe32, 48 << 20}));
  for (int I = 0; I < 6; ++I) Files.push_back(I == 3 ? PathOf("missing.exe") : WriteProgram("small" + std::to_string(I) + ".exe"));
  for (const char* Parallel : {"", "4"}) {
    std::vector<std::string> Arguments{"sign", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, "/report",
                                       PathOf("report.json")};
    if (*Parallel) Arguments.insert(Arguments.end(), {"/mt", Parallel});
    Arguments.insert(Arguments.end(), Files.begin(), Files.end());
    const TProcessResult Result = RunProcess(SignTool(), Arguments);
    EXPECT_EQ(Result.ExitCode, 1) << Result.Err;

    std::vector<std::string> Told;  // the file each line of either stream ends with, in order
    for (const std::string* Stream : {&Result.Out, &Result.Err})
      for (std::size_t Start = 0, End; (End = Stream->find('\n', Start)) != std::string::npos; Start = End + 1)
        if (const std::string Line = Stream->substr(Start, End - Start);
            Line.starts_with("Successfully signed: ") || Line.starts_with("SignTool Error: An error occurred"))
          Told.push_back(Line.substr(Line.rfind(": ") + 2));
    std::vector<std::string> Expected = Files;
    Expected.erase(Expected.begin() + 4);  // the error goes to the other stream
    Expected.push_back(Files[4]);
    EXPECT_EQ(Told, Expected) << Result.Out << Result.Err;

    QFile ReportFile(QString::fromStdString(PathOf("report.json")));
    ASSERT_TRUE(ReportFile.open(QIODevice::ReadOnly));
    const QJsonArray Entries = QJsonDocument::fromJson(ReportFile.readAll()).object()["files"].toArray();
    ASSERT_EQ(Entries.size(), static_cast<qsizetype>(Files.size()));
    for (std::size_t I = 0; I < Files.size(); ++I)
      EXPECT_EQ(Entries[static_cast<qsizetype>(I)].toObject()["path"].toString().toStdString(), Files[I]);
    for (const std::string& File : Files)
      if (File != Files[4]) EXPECT_EQ(VerifySignature(File, TestPki().CaCertPath).State, vsValidNoTimestamp) << File;
  }
}

TEST_F(SignToolCommandsTest, VerifyAllJudgesEveryNestedSignatureToo) {
  TimestampServer Server;
  const std::string Dual = WriteProgram("dual.exe");
  const auto Sign = [&](const std::string& Pfx, const std::string& Password, std::vector<std::string> More) {
    std::vector<std::string> Arguments{"sign", "/q", "/f", Pfx, "/p", Password};
    Arguments.insert(Arguments.end(), More.begin(), More.end());
    Arguments.push_back(Dual);
    return RunProcess(SignTool(), Arguments).ExitCode;
  };
  const auto VerifyAll = [&](std::vector<std::string> More) {
    std::vector<std::string> Arguments{"verify", "/pa", "/all", "/trust", TestPki().CaCertPath + ";" + TestPki().TsaCaCertPath};
    Arguments.insert(Arguments.end(), More.begin(), More.end());
    Arguments.push_back(Dual);
    return RunProcess(SignTool(), Arguments);
  };
  ASSERT_EQ(Sign(TestPki().PfxPath, TestPki().PfxPassword, {"/fd", "sha1", "/t", Server.Url()}), 0);
  ASSERT_EQ(Sign(TestPki().PfxPath, TestPki().PfxPassword, {"/as", "/fd", "sha256", "/tr", Server.Url(), "/td", "sha256"}), 0);
  const TProcessResult Both = VerifyAll({"/v"});
  EXPECT_EQ(Both.ExitCode, 0) << Both.Err;
  EXPECT_NE(Both.Out.find("Signature Index: 0 (Primary Signature)\n"), std::string::npos) << Both.Out;
  EXPECT_NE(Both.Out.find("Signature Index: 1\nSigner: " + TestPki().SignerCommonName + "\nTimestamp: 20"),
            std::string::npos) << Both.Out;

  // A third signature without a timestamp is only a warning, and only when every one counts.
  ASSERT_EQ(Sign(TestPki().PfxPath, TestPki().PfxPassword, {"/as"}), 0);
  EXPECT_EQ(Verify({Dual}).ExitCode, 0);
  const TProcessResult Unstamped = VerifyAll({});
  EXPECT_EQ(Unstamped.ExitCode, 2) << Unstamped.Err;

  // A fourth whose chain nobody trusts fails the file; the primary alone still holds.
  ASSERT_EQ(Sign(BackdatedPki().ExpiredPfxPath, BackdatedPki().ExpiredPfxPassword, {"/as"}), 0);
  EXPECT_EQ(Verify({Dual}).ExitCode, 0);
  const TProcessResult Untrusted = VerifyAll({"/q"});
  EXPECT_EQ(Untrusted.ExitCode, 1);
  // Nested signatures are a DER set, kept in the order of their encodings, not of their adding.
  EXPECT_EQ(Untrusted.Err.rfind("SignTool Error: A certificate chain processed, but terminated in a root certificate", 0), 0u)
      << Untrusted.Err;
  EXPECT_NE(Untrusted.Err.find(") " + Dual + "\n"), std::string::npos) << Untrusted.Err;
}
