// Adding a timestamp later through the window: rows signed with a warning because no server
// granted a timestamp, their pop-up entry, and the batch that runs signtool.exe's timestamp command.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/Translations.h"
#include "authenticode/VerifySignature.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/PromptRecorder.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"
#include "ui/TFileListView.h"
#include "ui/uFrmMain.h"

namespace {
class RestampBatch : public ::testing::Test {
 protected:
  QTemporaryDir Folder;
  PromptRecorder Prompts;
  TFrmMain Frm;
  TFileListModel* Files = Frm.vstFiles->Files();
  QString PreviousDir = QDir::currentPath();
  TimestampServer Rejecting{TTimestampBehaviour::Reject};

  void SetUp() override {
    Frm.FConfigFile = Path("config.ini");
    Frm.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Frm));
  }
  void TearDown() override { QDir::setCurrent(PreviousDir); }

  std::string Path(const std::string& Name) const {
    return QDir(Folder.path()).filePath(QString::fromStdString(Name)).toStdString();
  }
  TRowId Add(const std::string& Name) {
    WriteBytes(Path(Name), BuildPe({TPeKind::Exe32, 0, false}));
    return Files->Append(Path(Name));
  }
  static void Type(QComboBox* Box, const std::string& Text) {
    Box->lineEdit()->clear();
    QTest::keyClicks(Box->lineEdit(), QString::fromStdString(Text));
  }
  void Select(const std::vector<TRowId>& Rows) {
    Frm.vstFiles->ClearSelection();
    for (const TRowId Row : Rows)
      Frm.vstFiles->selectionModel()->select(Files->index(Files->RowOf(Row), 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  bool EntryOffered() {
    Frm.PopupMenu->popup(Frm.vstFiles->mapToGlobal(QPoint(20, 20)));
    const bool Offered = Frm.pmiRestamp->isVisible() && Frm.pmiRestamp->isEnabled();
    Frm.PopupMenu->close();
    return Offered;
  }
  // Starts a batch and waits until it has ended and the buttons are back.
  void RunAndWait(QAbstractButton* Start) { StartAndWait([Start] { QTest::mouseClick(Start, Qt::LeftButton); }); }
  void RunAndWait(QAction* Entry) { StartAndWait([Entry] { Entry->trigger(); }); }
  template <class TStart>
  void StartAndWait(TStart StartBatch) {
    const std::size_t Shown = Prompts.Shown().size();
    StartBatch();
    QDeadlineTimer Deadline(180000);
    while (Prompts.Shown().size() == Shown || !Frm.btnAddSign->isEnabled()) {
      ASSERT_FALSE(Deadline.hasExpired());
      QTest::qWait(5);
    }
  }
  int StatusOf(TRowId Row) const { return Files->Item(Row)->Status; }
  std::string InfoOf(TRowId Row) const { return ToString(Files->Item(Row)->Info); }
  std::string FileOf(TRowId Row) const { return Files->FileName(Row); }
};

std::string BothRoots() { return TestPki().CaCertPath + ";" + TestPki().TsaCaCertPath; }
}  // namespace

TEST_F(RestampBatch, WarnedRowsGainTheirTimestampFromTheEntry) {
  const std::vector<TRowId> Warned{Add("first.exe"), Add("second one.exe"), Add("third.exe"), Add("fourth.exe")};
  Type(Frm.cbFile, TestPki().PfxPath);
  QTest::keyClicks(Frm.edtPwd, QString::fromStdString(TestPki().PfxPassword));
  Type(Frm.cbTimeStamp, Rejecting.Url());
  RunAndWait(Frm.btnAddSign);
  for (const TRowId Row : Warned) ASSERT_EQ(StatusOf(Row), fsWarning) << InfoOf(Row);
  const TRowId Unsigned = Add("unsigned.exe");

  // Offered only while a selected row lacks its timestamp.
  Select({Unsigned});
  EXPECT_FALSE(EntryOffered());
  Select({Warned[0], Warned[1], Warned[2], Unsigned});
  EXPECT_TRUE(EntryOffered());

  // The batch's runs share the server order: the first server, which turns every request down,
  // is asked once for all three.
  TimestampServer Tsa;
  const int RejectedBefore = Rejecting.RequestCount();
  Type(Frm.cbTimeStamp, Rejecting.Url() + " ; " + Tsa.Url());
  RunAndWait(Frm.pmiRestamp);
  EXPECT_EQ(Rejecting.RequestCount() - RejectedBefore, 1);

  EXPECT_EQ(Prompts.Last().Text, "共有3个操作文件，加盖时间戳成功3个；失败0个");
  for (std::size_t I = 0; I < 3; ++I) {
    EXPECT_EQ(StatusOf(Warned[I]), fsOk) << InfoOf(Warned[I]);
    EXPECT_EQ(VerifySignature(FileOf(Warned[I]), BothRoots()).State, vsValid) << FileOf(Warned[I]);
    const TOsslVerdict Oracle = OsslVerify(FileOf(Warned[I]));
    EXPECT_TRUE(Oracle.SignatureOk && Oracle.TimestampOk) << Oracle.Output;
  }
  EXPECT_EQ(Tsa.RequestCount(), 3);
  EXPECT_EQ(StatusOf(Warned[3]), fsWarning);
  EXPECT_EQ(VerifySignature(FileOf(Warned[3]), BothRoots()).State, vsValidNoTimestamp);
  EXPECT_EQ(StatusOf(Unsigned), fsPending);
  Select({Warned[0]});
  EXPECT_FALSE(EntryOffered());

  // A server that grants none leaves the row signed without a timestamp, offered again.
  Select({Warned[3]});
  Type(Frm.cbTimeStamp, Rejecting.Url());
  RunAndWait(Frm.pmiRestamp);
  EXPECT_EQ(Prompts.Last().Text, "共有1个操作文件，加盖时间戳成功0个；失败1个");
  EXPECT_EQ(StatusOf(Warned[3]), fsWarning);
  EXPECT_EQ(InfoOf(Warned[3]),
            "SignTool Error: An error occurred while attempting to timestamp: " + FileOf(Warned[3]) + "\n");
  EXPECT_EQ(VerifySignature(FileOf(Warned[3]), BothRoots()).State, vsValidNoTimestamp);
  EXPECT_TRUE(EntryOffered());
}

TEST_F(RestampBatch, TheEntryAsksByTheProtocolTheOptionsChose) {
  const TRowId Warned = Add("warned.exe");
  Type(Frm.cbFile, TestPki().PfxPath);
  QTest::keyClicks(Frm.edtPwd, QString::fromStdString(TestPki().PfxPassword));
  Type(Frm.cbTimeStamp, Rejecting.Url());
  RunAndWait(Frm.btnAddSign);
  ASSERT_EQ(StatusOf(Warned), fsWarning) << InfoOf(Warned);

  std::atomic<int> Rfc3161Requests = 0;
  TimestampServer Tsa(TTimestampBehaviour::Answer, [&](const THttpRequest& Request) -> std::optional<THttpResponse> {
    const auto Kind = Request.Headers.find("content-type");
    if (Kind != Request.Headers.end() && Kind->second == "application/timestamp-query") ++Rfc3161Requests;
    return std::nullopt;
  });
  std::ofstream(Path("config.ini"), std::ios::app) << "[Options]\nTimestampProtocol=RFC3161\n";
  Select({Warned});
  Type(Frm.cbTimeStamp, Tsa.Url());
  RunAndWait(Frm.pmiRestamp);
  EXPECT_EQ(StatusOf(Warned), fsOk) << InfoOf(Warned);
  EXPECT_EQ(Rfc3161Requests, 1);
  EXPECT_EQ(VerifySignature(FileOf(Warned), BothRoots()).State, vsValid);
}

// signtool.exe speaks the window's language, and the window still knows its warnings for what
// they are: counted as warnings, and offered a timestamp later.
TEST_F(RestampBatch, AChineseWindowReadsChineseWarningsAsWarnings) {
  const TTranslations Chinese(TLanguage::Chinese);
  const TRowId Row = Add("app.exe");
  Type(Frm.cbFile, TestPki().PfxPath);
  QTest::keyClicks(Frm.edtPwd, QString::fromStdString(TestPki().PfxPassword));
  Type(Frm.cbTimeStamp, Rejecting.Url());
  RunAndWait(Frm.btnAddSign);
  EXPECT_EQ(StatusOf(Row), fsWarning);
  EXPECT_EQ(InfoOf(Row), "SignTool Warning: 签名成功，但加盖时间戳时出错：" + FileOf(Row) + "\n");
  EXPECT_EQ(Prompts.Last().Text, "共有1个操作文件，签名成功1个；失败0个\n"
                                 "其中1个文件签名时出现警告（没有时间戳），请查看列表中的提示。");

  Select({Row});
  EXPECT_TRUE(EntryOffered());
  RunAndWait(Frm.pmiRestamp);
  EXPECT_EQ(StatusOf(Row), fsWarning);
  EXPECT_EQ(InfoOf(Row), "SignTool Error: 加盖时间戳时出错：" + FileOf(Row) + "\n");
  EXPECT_TRUE(EntryOffered());
}
