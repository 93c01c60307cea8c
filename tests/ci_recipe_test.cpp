// The CI recipe of the README, taken from it and run as it stands: the GitHub Actions job with a
// PFX from its secrets, the GitLab CI job with a key on a token, each signing a build's out/
// folder, verifying it and leaving the report. The built signtool.exe stands in for the
// installed package (QUILLORY_UNPACKED names an unpacked one instead), so the jobs' install steps
// are the only ones not run; what the runner and the project's settings provide (secrets, the
// runner's temporary folder, the servers) is given in the environment.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <fstream>

#include "support/CabFixtures.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/SoftToken.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
QString Readme() {
  QFile File(QStringLiteral(QUILLORY_SOURCE_DIR "/README.md"));
  return File.open(QIODevice::ReadOnly) ? QString::fromUtf8(File.readAll()) : QString();
}

// The README's yaml block that contains Marker, as lines.
QStringList YamlBlock(const QString& Text, const QString& Marker) {
  static const QRegularExpression Fence("```yaml\\n(.*?)```", QRegularExpression::DotMatchesEverythingOption);
  for (auto Match = Fence.globalMatch(Text); Match.hasNext();) {
    const QString Block = Match.next().captured(1);
    if (Block.contains(Marker)) return Block.split('\n');
  }
  return {};
}

// The lines below Lines[At] indented deeper than it, with the block's own indentation taken off.
QString BlockBelow(const QStringList& Lines, qsizetype& At) {
  const qsizetype Own = Lines[At].indexOf(Lines[At].trimmed());
  QStringList Body;
  qsizetype BodyIndent = -1;
  while (At + 1 < Lines.size() &&
         (Lines[At + 1].trimmed().isEmpty() || Lines[At + 1].indexOf(Lines[At + 1].trimmed()) > Own)) {
    const QString& Line = Lines[++At];
    if (BodyIndent < 0) BodyIndent = Line.indexOf(Line.trimmed());
    Body.append(Line.mid(BodyIndent));
  }
  return Body.join('\n');
}

struct TStep {
  QString Name;
  QString Run;
};

// The steps of a GitHub Actions job that run commands, in order.
std::vector<TStep> GitHubSteps(const QStringList& Lines) {
  static const QRegularExpression StepStart("^\\s*- (name|uses): *(.*)$");
  static const QRegularExpression Run("^\\s*-? *run: *(.*)$");
  std::vector<TStep> Steps;
  QString Name;
  for (qsizetype I = 0; I < Lines.size(); ++I) {
    if (const auto Start = StepStart.match(Lines[I]); Start.hasMatch()) Name = Start.captured(1) == "name" ? Start.captured(2) : QString();
    const auto Command = Run.match(Lines[I]);
    if (!Command.hasMatch()) continue;
    Steps.push_back({Name, Command.captured(1) == "|" ? BlockBelow(Lines, I) : Command.captured(1)});
  }
  return Steps;
}

// The list under Key of a GitLab CI job, one command a line.
QStringList GitLabList(const QStringList& Lines, const QString& Key) {
  QStringList Items;
  for (qsizetype I = 0; I < Lines.size(); ++I) {
    if (Lines[I].trimmed() != Key + ":") continue;
    for (const QString& Item : BlockBelow(Lines, I).split('\n'))
      if (Item.startsWith("- ")) Items.append(Item.mid(2));
  }
  return Items;
}

QByteArray Sha256Of(const QString& Path) {
  QFile File(Path);
  if (!File.open(QIODevice::ReadOnly)) return {};
  return QCryptographicHash::hash(File.readAll(), QCryptographicHash::Sha256).toHex();
}

class CiRecipe : public ::testing::Test {
 protected:
  QTemporaryDir Scratch;
  QString Workspace = Scratch.filePath("工作 区");
  TimestampServer Tsa;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  std::vector<QString> Programs;

  void SetUp() override {
    ASSERT_TRUE(QDir().mkpath(Workspace + "/out/lib"));
    const QString Bin = Scratch.filePath("bin");
    ASSERT_TRUE(QDir().mkpath(Bin));
    const QString Unpacked = qEnvironmentVariable("QUILLORY_UNPACKED");
    const QString Command = Unpacked.isEmpty() ? QCoreApplication::applicationDirPath() + "/signtool.exe"
                                               : Unpacked + "/usr/bin/quillory-signtool";
    ASSERT_TRUE(QFile::link(Command, Bin + "/quillory-signtool"));
    Environment.insert("PATH", Bin + ":" + Environment.value("PATH"));
    // The system's trust, as a runner has it, holds the test roots.
    const QString Roots = Scratch.filePath("roots.pem");
    std::ofstream(Roots.toStdString()) << std::ifstream(TestPki().CaCertPath).rdbuf() << std::ifstream(TestPki().TsaCaCertPath).rdbuf();
    Environment.insert("SSL_CERT_FILE", Roots);
    Environment.insert("TIMESTAMP_URLS", QString::fromStdString(Tsa.Url()));

    for (const auto& [Name, Bytes] : std::vector<std::pair<QString, std::vector<std::uint8_t>>>{
             {"out/app.exe", BuildPe({TPeKind::Exe32, 0, false})},
             {"out/lib/库 文件.DLL", BuildPe({TPeKind::Dll64, 0, false})},
             {"out/setup.cab", BuildCab("readme.txt", "a cabinet's content")}}) {
      Programs.push_back(Workspace + "/" + Name);
      WriteBytes(Programs.back().toStdString(), Bytes);
    }
    std::ofstream((Workspace + "/out/readme.txt").toStdString()) << "not signed\n";
  }

  // Runs Script with bash as a CI runner does (stopping at the first failure) in the workspace.
  int Shell(const QString& Script, QString& Output) const {
    QProcess Run;
    Run.setWorkingDirectory(Workspace);
    Run.setProcessEnvironment(Environment);
    Run.setProcessChannelMode(QProcess::MergedChannels);
    Run.start("bash", {"--noprofile", "--norc", "-eo", "pipefail", "-c", Script});
    if (!Run.waitForFinished(180000)) return -1;
    Output += QString::fromUtf8(Run.readAll());
    return Run.exitStatus() == QProcess::NormalExit ? Run.exitCode() : -1;
  }

  // The report names every program file with what it is now, signed and timestamped.
  void CheckReport() const {
    QFile File(Workspace + "/signing-report.json");
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    const QJsonArray Entries = QJsonDocument::fromJson(File.readAll()).object()["files"].toArray();
    ASSERT_EQ(Entries.size(), static_cast<qsizetype>(Programs.size()));
    for (const QString& Program : Programs) {
      const auto Entry = std::find_if(Entries.begin(), Entries.end(), [&](const QJsonValue& Value) {
        return QDir(Workspace).absoluteFilePath(Value.toObject()["path"].toString()) == Program;
      });
      ASSERT_NE(Entry, Entries.end()) << Program.toStdString();
      const QJsonObject Fields = Entry->toObject();
      EXPECT_EQ(Fields["result"].toString(), "signed") << Program.toStdString();
      EXPECT_EQ(Fields["sha256After"].toString().toLatin1(), Sha256Of(Program)) << Program.toStdString();
      EXPECT_FALSE(Fields["timestamp"].isNull()) << Program.toStdString();
      const TOsslVerdict Oracle = OsslVerify(Program.toStdString());
      EXPECT_TRUE(Oracle.SignatureOk && Oracle.TimestampOk) << Oracle.Output;
    }
  }
};
}  // namespace

TEST_F(CiRecipe, TheGitHubActionsJobSignsWithThePfxFromItsSecrets) {
  const std::vector<TStep> Steps = GitHubSteps(YamlBlock(Readme(), "runs-on:"));
  ASSERT_EQ(Steps.size(), 3u);
  ASSERT_EQ(Steps[0].Name, "Install Quillory");
  ASSERT_TRUE(Steps[0].Run.contains("apt-get install -y \"./$QUILLORY_DEB\""));

  const QString RunnerTemp = Scratch.filePath("runner temp");
  ASSERT_TRUE(QDir().mkpath(RunnerTemp));
  QFile Pfx(QString::fromStdString(TestPki().PfxPath));
  ASSERT_TRUE(Pfx.open(QIODevice::ReadOnly));
  Environment.insert("RUNNER_TEMP", RunnerTemp);
  Environment.insert("PFX_BASE64", QString::fromLatin1(Pfx.readAll().toBase64()));
  Environment.insert("PFX_PASSWORD", QString::fromStdString(TestPki().PfxPassword));
  for (std::size_t I = 1; I < Steps.size(); ++I) {
    QString Output;
    ASSERT_EQ(Shell(Steps[I].Run, Output), 0) << Steps[I].Name.toStdString() << "\n" << Output.toStdString();
  }
  CheckReport();
  EXPECT_TRUE(QDir(RunnerTemp).isEmpty());
}

TEST_F(CiRecipe, TheGitLabJobSignsWithTheKeyOnAToken) {
  const QStringList Job = YamlBlock(Readme(), "before_script:");
  const QStringList Install = GitLabList(Job, "before_script");
  ASSERT_TRUE(Install.contains("apt-get install -y \"./$QUILLORY_DEB\" opensc"));
  const QStringList Script = GitLabList(Job, "script");
  ASSERT_EQ(Script.size(), 3);

  const TSoftToken& Token = SoftToken();
  Environment.insert("SOFTHSM2_CONF", qEnvironmentVariable("SOFTHSM2_CONF"));
  Environment.insert("TOKEN_KEY_URI", QString::fromStdString(Token.RsaKeyUri + "?module-path=" + Token.Module));
  Environment.insert("TOKEN_PIN", QString::fromStdString(Token.Pin));
  QString Output;
  ASSERT_EQ(Shell(Script.join('\n'), Output), 0) << Output.toStdString();
  CheckReport();
}
