// The window's report of its last signing batch (导出报告): what each run of signtool.exe saw of
// its file, gathered for every row of the batch and written where the user chooses.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "support/PeFixtures.h"
#include "support/PromptRecorder.h"
#include "support/ScopedEnvironment.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"
#include "ui/FileDialogs.h"
#include "ui/TFileListView.h"
#include "ui/uFrmMain.h"

namespace {
QByteArray Sha256(const std::vector<std::uint8_t>& Bytes) {
  return QCryptographicHash::hash(
             QByteArray(reinterpret_cast<const char*>(Bytes.data()), static_cast<qsizetype>(Bytes.size())),
             QCryptographicHash::Sha256)
      .toHex();
}

class ReportExport : public ::testing::Test {
 protected:
  QTemporaryDir Folder;
  QTemporaryDir RuntimeFolder;  // the runs' reports go here, and must not stay
  TScopedEnvironment Runtime{"XDG_RUNTIME_DIR", RuntimeFolder.path().toStdString()};
  PromptRecorder Prompts;
  TFrmMain Frm;
  TFileListModel* Files = Frm.vstFiles->Files();
  QString PreviousDir = QDir::currentPath();
  std::optional<QString> SaveAnswer;
  int SaveAsked = 0;

  void SetUp() override {
    SetSaveFileHandler([this](const QString&, const QString&) {
      ++SaveAsked;
      return SaveAnswer;
    });
    Frm.FConfigFile = Path("config.ini");
    Frm.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Frm));
  }
  void TearDown() override {
    SetSaveFileHandler(nullptr);
    QDir::setCurrent(PreviousDir);
  }

  std::string Path(const std::string& Name) const {
    return QDir(Folder.path()).filePath(QString::fromStdString(Name)).toStdString();
  }
  static void Type(QComboBox* Box, const std::string& Text) {
    Box->lineEdit()->clear();
    QTest::keyClicks(Box->lineEdit(), QString::fromStdString(Text));
  }
  void SignAll(const std::string& TimeStamp) {
    Type(Frm.cbFile, TestPki().PfxPath);
    Frm.edtPwd->clear();
    QTest::keyClicks(Frm.edtPwd, QString::fromStdString(TestPki().PfxPassword));
    Type(Frm.cbTimeStamp, TimeStamp);
    const std::size_t Shown = Prompts.Shown().size();
    QTest::mouseClick(Frm.btnAddSign, Qt::LeftButton);
    QDeadlineTimer Deadline(180000);
    while (Prompts.Shown().size() == Shown || !Frm.btnAddSign->isEnabled()) {
      ASSERT_FALSE(Deadline.hasExpired());
      QTest::qWait(5);
    }
  }
  bool EntryEnabled() {
    Frm.PopupMenu->popup(Frm.vstFiles->mapToGlobal(QPoint(20, 20)));
    const bool Enabled = Frm.pmiExportReport->isEnabled();
    Frm.PopupMenu->close();
    return Enabled;
  }
  QJsonObject Exported(const std::string& Name) {
    SaveAnswer = QString::fromStdString(Path(Name));
    Frm.pmiExportReport->trigger();
    QFile File(*SaveAnswer);
    if (!File.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(File.readAll()).object();
  }
};
}  // namespace

TEST_F(ReportExport, EveryRowOfTheLastBatchWithWhatItsRunSawBeforeAndAfter) {
  EXPECT_FALSE(EntryEnabled());
  TimestampServer Tsa;
  const std::vector<std::uint8_t> Program = BuildPe({TPeKind::Exe32, 0, false});
  const std::vector<std::uint8_t> Library = BuildPe({TPeKind::Dll64, 0, false});
  WriteBytes(Path("app.exe"), Program);
  WriteBytes(Path("库 文件.dll"), Library);
  std::ofstream(Path("readme.exe")) << "not a program\n";
  const TRowId AppRow = Files->Append(Path("app.exe"));
  const TRowId LibraryRow = Files->Append(Path("库 文件.dll"));
  Files->Append(Path("readme.exe"));
  Files->Append(Path("gone.exe"));
  SignAll(Tsa.Url());
  ASSERT_EQ(Files->Item(AppRow)->Status, fsOk);
  ASSERT_EQ(Files->Item(LibraryRow)->Status, fsOk);
  EXPECT_TRUE(std::filesystem::is_empty(RuntimeFolder.path().toStdString()));

  // Deleted rows were part of the batch all the same.
  Frm.vstFiles->SelectAllRows();
  Frm.pmiDelete->trigger();
  ASSERT_EQ(Files->Count(), 0);
  ASSERT_TRUE(EntryEnabled());
  const QJsonObject Report = Exported("report.json");
  EXPECT_EQ(Report["signer"].toString().toStdString(), TestPki().SignerCommonName);
  const QString Thumbprint = Report["thumbprint"].toString();
  EXPECT_EQ(Thumbprint.size(), 40);
  const QJsonArray Entries = Report["files"].toArray();
  ASSERT_EQ(Entries.size(), 4);

  const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> SignedFiles{{Path("app.exe"), Program},
                                                                                    {Path("库 文件.dll"), Library}};
  for (std::size_t I = 0; I < SignedFiles.size(); ++I) {
    const QJsonObject Entry = Entries[static_cast<qsizetype>(I)].toObject();
    const auto& [File, Before] = SignedFiles[I];
    EXPECT_EQ(Entry["path"].toString().toStdString(), File);
    EXPECT_EQ(Entry["result"].toString(), "signed");
    EXPECT_EQ(Entry["sha256Before"].toString().toLatin1(), Sha256(Before)) << File;
    EXPECT_EQ(Entry["sha256After"].toString().toLatin1(), Sha256(ReadBytes(File))) << File;
    EXPECT_NE(Entry["sha256Before"], Entry["sha256After"]);
    EXPECT_EQ(Entry["signer"].toString().toStdString(), TestPki().SignerCommonName);
    EXPECT_EQ(Entry["thumbprint"].toString(), Thumbprint);
    EXPECT_EQ(Entry["timestampServer"].toString().toStdString(), Tsa.Url());
    EXPECT_TRUE(Entry["timestamp"].toString().endsWith('Z')) << File;
  }
  const QJsonObject NotProgram = Entries[2].toObject();
  EXPECT_EQ(NotProgram["result"].toString(), "failed");
  EXPECT_EQ(NotProgram["sha256Before"], NotProgram["sha256After"]);
  EXPECT_FALSE(NotProgram["message"].toString().isEmpty());
  EXPECT_TRUE(NotProgram["signer"].toString().isEmpty());
  const QJsonObject Gone = Entries[3].toObject();
  EXPECT_EQ(Gone["path"].toString().toStdString(), Path("gone.exe"));
  EXPECT_EQ(Gone["result"].toString(), "failed");
  EXPECT_EQ(Gone["message"].toString().toStdString(), "找不到文件：" + Path("gone.exe"));
  EXPECT_TRUE(Gone["sha256Before"].toString().isEmpty());
  EXPECT_TRUE(Gone["timestamp"].isNull());
}

TEST_F(ReportExport, TheNextBatchReplacesTheReportAndAFailedWriteIsShown) {
  TimestampServer Rejecting{TTimestampBehaviour::Reject};
  WriteBytes(Path("first.exe"), BuildPe({TPeKind::Exe32, 0, false}));
  const TRowId First = Files->Append(Path("first.exe"));
  SignAll(Rejecting.Url());
  ASSERT_EQ(Files->Item(First)->Status, fsWarning);
  Frm.vstFiles->SelectAllRows();
  Frm.pmiDelete->trigger();
  WriteBytes(Path("second.exe"), BuildPe({TPeKind::Exe64, 0, false}));
  Files->Append(Path("second.exe"));
  SignAll(Rejecting.Url());

  const QJsonArray Entries = Exported("report.json")["files"].toArray();
  ASSERT_EQ(Entries.size(), 1);
  EXPECT_EQ(Entries[0].toObject()["path"].toString().toStdString(), Path("second.exe"));
  EXPECT_EQ(Entries[0].toObject()["result"].toString(), "warning");
  EXPECT_TRUE(Entries[0].toObject()["timestamp"].isNull());

  // Cancelled, nothing is written; a folder that is not there is told, and nothing is left.
  SaveAnswer.reset();
  const int Asked = SaveAsked;
  const std::size_t Shown = Prompts.Shown().size();
  Frm.pmiExportReport->trigger();
  EXPECT_EQ(SaveAsked, Asked + 1);
  EXPECT_EQ(Prompts.Shown().size(), Shown);
  EXPECT_TRUE(Exported("missing/report.json").isEmpty());
  ASSERT_EQ(Prompts.Shown().size(), Shown + 1);
  EXPECT_EQ(Prompts.Last().Text.rfind("无法写入报告" + Path("missing/report.json"), 0), 0u) << Prompts.Last().Text;
}
