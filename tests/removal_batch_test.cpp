// The removal batch through the real window: rows, summary, errors and what may happen meanwhile.
#include <gtest/gtest.h>

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>

#include <sys/stat.h>

#include "filelist/DropIntake.h"
#include "ui/TFileListView.h"
#include "authenticode/VerifySignature.h"
#include "support/CabFixtures.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/PromptRecorder.h"
#include "support/ShellLinkFiles.h"
#include "ui/uFrmMain.h"

namespace {
class RemovalBatch : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const {
    return Folder.filePath(QString::fromStdString(Name)).toStdString();
  }

  std::string Signed(const std::string& Name, TPeKind Kind = TPeKind::Exe32) const {
    const std::string Plain = PathOf(Name + ".plain");
    WriteBytes(Plain, BuildPe({Kind, 0, false}));
    const std::string Path = PathOf(Name);
    EXPECT_TRUE(OsslSign(Plain, Path));
    return Path;
  }

  std::string Unsigned(const std::string& Name, TPeKind Kind = TPeKind::Exe32) const {
    const std::string Path = PathOf(Name);
    WriteBytes(Path, BuildPe({Kind, 0, true}));
    return Path;
  }

  TFileListModel& Files() { return *Form.vstFiles->Files(); }

  struct TRowState {
    int Status;
    std::string Info;
    bool operator==(const TRowState&) const = default;
  };
  TRowState Row(TRowId Id) {
    const TFileItem* Item = Files().Item(Id);
    return {Item->Status, ToString(Item->Info)};
  }

  void ClickRemove() { QTest::mouseClick(Form.btnDelSign, Qt::LeftButton); }

  QTemporaryDir Folder;
  PromptRecorder Prompts;
  TFrmMain Form;
};
}  // namespace

TEST_F(RemovalBatch, ACabinetLosesItsSignatureAndIsTheCabinetThatWasSigned) {
  const std::string Plain = PathOf("setup.cab.plain");
  WriteBytes(Plain, BuildCab("setup.inf", std::string(70000, 'c')));
  const std::string Cab = PathOf("setup.cab");
  ASSERT_TRUE(OsslSign(Plain, Cab));
  const TRowId Row = Files().Append(Cab);

  ClickRemove();

  EXPECT_EQ(Files().Item(Row)->Status, fsOk) << ToString(Files().Item(Row)->Info);
  EXPECT_EQ(ReadBytes(Cab), ReadBytes(Plain));
  EXPECT_EQ(VerifySignature(Cab).State, vsUnsigned);
}

TEST_F(RemovalBatch, MarksEveryRowAndSumsUp) {
  const std::string SignedExe = Signed("a.exe");
  const TRowId A = Files().Append(SignedExe);
  const TRowId B = Files().Append(Unsigned("b.dll", TPeKind::Dll64));
  const TRowId C = Files().Append(Signed("c.dll", TPeKind::Dll64));
  const TRowId D = Files().Append(PathOf("missing.exe"));
  Files().SetResult(B, fsWarning, "an earlier result");

  ClickRemove();

  EXPECT_EQ(Row(A), (TRowState{fsOk, ""}));
  EXPECT_EQ(Row(B), (TRowState{fsFailed, "文件没有签名"}));
  EXPECT_EQ(Row(C), (TRowState{fsOk, ""}));
  EXPECT_EQ(Row(D), (TRowState{fsFailed, "打开文件失败"}));
  ASSERT_EQ(Prompts.Shown().size(), 1u) << ::testing::PrintToString(Prompts.Texts());
  EXPECT_EQ(Prompts.Last().Text, "共有4个操作文件，删除成功2个；失败2个");
  EXPECT_EQ(Prompts.Last().Title, "提示");
  EXPECT_EQ(Prompts.Last().Style, 0x40u);
  EXPECT_FALSE(OsslVerify(SignedExe).HasSignature);
  EXPECT_TRUE(Form.btnDelSign->isEnabled());
  EXPECT_TRUE(Form.btnAddSign->isEnabled());

  // A second run goes over every row again; the stripped ones now have no signature.
  ClickRemove();
  for (const TRowId Id : {A, B, C}) EXPECT_EQ(Row(Id), (TRowState{fsFailed, "文件没有签名"}));
  EXPECT_EQ(Prompts.Last().Text, "共有4个操作文件，删除成功0个；失败4个");
}

TEST_F(RemovalBatch, EmptyListStillSumsUp) {
  ClickRemove();
  ASSERT_EQ(Prompts.Shown().size(), 1u);
  EXPECT_EQ(Prompts.Last().Text, "共有0个操作文件，删除成功0个；失败0个");
}

TEST_F(RemovalBatch, ReadOnlyFileStopsTheBatchWithTheErrorReport) {
  const TRowId First = Files().Append(Signed("first.exe"));
  const std::string ReadOnly = Signed("read-only.exe");
  ASSERT_EQ(::chmod(ReadOnly.c_str(), 0444), 0);
  const TRowId Stuck = Files().Append(ReadOnly);
  const std::string LastPath = Signed("last.exe");
  const TRowId Last = Files().Append(LastPath);
  Files().SetResult(Stuck, fsWarning, "earlier message");
  Files().SetResult(Last, fsOk, "earlier result");

  ClickRemove();

  EXPECT_EQ(Row(First), (TRowState{fsOk, ""}));
  EXPECT_EQ(Row(Stuck), (TRowState{fsWarning, "earlier message"}));
  EXPECT_EQ(Row(Last), (TRowState{fsOk, "earlier result"}));
  EXPECT_TRUE(OsslVerify(ReadOnly).SignatureOk);
  EXPECT_TRUE(OsslVerify(LastPath).SignatureOk);
  // Only the standard error report: no summary.
  ASSERT_EQ(Prompts.Shown().size(), 1u) << ::testing::PrintToString(Prompts.Texts());
  EXPECT_EQ(Prompts.Last().Style, 0x10u);
  EXPECT_EQ(Prompts.Last().Text,
            "Cannot create file \"" + ReadOnly + "\". " + std::strerror(EACCES) + ".");
  EXPECT_TRUE(Form.btnDelSign->isEnabled());
  EXPECT_TRUE(Form.btnAddSign->isEnabled());
}

TEST_F(RemovalBatch, RowsDeletedOrDroppedMeanwhileAndNoSecondBatch) {
  const TRowId A = Files().Append(Signed("a.exe"));
  const std::string KeptSigned = Signed("b.exe");
  Files().Append(KeptSigned);
  const TRowId C = Files().Append(Signed("c.exe"));
  const std::string DroppedPath = Signed("d.exe", TPeKind::Exe64);

  bool RemoveWasEnabled = true;
  QString StartCaption;
  std::optional<TRowId> Dropped;
  // Runs while the batch lets the window process its messages after the first file.
  QTimer::singleShot(0, &Form, [&] {
    RemoveWasEnabled = Form.btnDelSign->isEnabled();
    StartCaption = Form.btnAddSign->text();
    Files().RemoveRowsAt({1});
    Dropped = Files().Append(DroppedPath);
    Form.btnDelSignClick();  // must not start a second batch over the same rows
  });
  ClickRemove();

  EXPECT_FALSE(RemoveWasEnabled);
  EXPECT_EQ(StartCaption, "停止(&S)");
  ASSERT_TRUE(Dropped.has_value());
  EXPECT_EQ(Row(A), (TRowState{fsOk, ""}));
  EXPECT_EQ(Row(C), (TRowState{fsOk, ""}));
  EXPECT_EQ(Row(*Dropped), (TRowState{fsOk, ""}));
  EXPECT_TRUE(OsslVerify(KeptSigned).SignatureOk);
  EXPECT_FALSE(OsslVerify(DroppedPath).HasSignature);
  ASSERT_EQ(Prompts.Shown().size(), 1u) << ::testing::PrintToString(Prompts.Texts());
  EXPECT_EQ(Prompts.Last().Text, "共有3个操作文件，删除成功3个；失败0个");
  EXPECT_TRUE(Form.btnDelSign->isEnabled());
  EXPECT_TRUE(Form.btnAddSign->isEnabled());
}

TEST_F(RemovalBatch, ClosingTheWindowStopsAfterTheCurrentFile) {
  Form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
  const TRowId A = Files().Append(Signed("a.exe"));
  const std::string SecondPath = Signed("b.exe");
  const TRowId B = Files().Append(SecondPath);
  Prompts.QueueAnswer(idYes);
  QTimer::singleShot(0, &Form, [&] { Form.close(); });

  ClickRemove();

  EXPECT_FALSE(Form.isVisible());
  EXPECT_EQ(Row(A), (TRowState{fsOk, ""}));
  EXPECT_EQ(Row(B), (TRowState{fsPending, ""}));
  EXPECT_TRUE(OsslVerify(SecondPath).SignatureOk);
  // The question, and no summary after it.
  ASSERT_EQ(Prompts.Shown().size(), 1u) << ::testing::PrintToString(Prompts.Texts());
  EXPECT_EQ(Prompts.Last().Text, "正在处理列表中的文件，确定要停止并退出吗？");
  EXPECT_EQ(Prompts.Last().Style, static_cast<unsigned>(mbYesNo | mbIconQuestion));
}

TEST_F(RemovalBatch, StopEndsWithTheSummaryOfWhatWasDone) {
  const TRowId A = Files().Append(Signed("a.exe"));
  const std::string Later = Signed("b.exe");
  const TRowId B = Files().Append(Later);
  // The click comes while the batch lets the window handle its messages after the first file.
  QTimer::singleShot(0, &Form, [&] { QTest::mouseClick(Form.btnAddSign, Qt::LeftButton); });

  ClickRemove();

  EXPECT_EQ(Row(A), (TRowState{fsOk, ""}));
  EXPECT_EQ(Row(B), (TRowState{fsPending, ""}));
  EXPECT_TRUE(OsslVerify(Later).SignatureOk);
  ASSERT_EQ(Prompts.Shown().size(), 1u) << ::testing::PrintToString(Prompts.Texts());
  EXPECT_EQ(Prompts.Last().Text, "共有1个操作文件，删除成功1个；失败0个");
  EXPECT_EQ(Form.btnAddSign->text(), "开始签名(&S)");
  EXPECT_TRUE(Form.btnAddSign->isEnabled());
  EXPECT_TRUE(Form.btnDelSign->isEnabled());
}

TEST_F(RemovalBatch, ANameLongerThanARecordStripsThatFileAndNoOther) {
  // A folder deep enough that "<folder>/app.exe" fills the record's 255 bytes exactly, so the
  // longer name cut there would name app.exe.
  const std::string Deep(255 - std::string("/app.exe").size() - Folder.path().toStdString().size() - 1, 'd');
  ASSERT_TRUE(QDir(Folder.path()).mkdir(QString::fromStdString(Deep)));
  const std::string Other = Signed(Deep + "/app.exe");
  const std::string Dropped = Signed(Deep + "/app.exe.backup-copy.exe");
  ASSERT_EQ(Dropped.substr(0, 255), Other);
  WriteBytes(PathOf("copy.lnk"), ShellLinkTo(Dropped));

  // The shortcut's target is taken whole too: the file itself is then already listed.
  EXPECT_EQ(AppendDroppedNames({PathOf("copy.lnk")}, Files()), 1);
  EXPECT_EQ(AppendDroppedNames({Dropped}, Files()), 0);
  ASSERT_EQ(Files().Count(), 1);
  const TRowId Id = Files().IdAt(0);
  EXPECT_EQ(Files().FileName(Id), Dropped);

  struct stat Before {};
  ASSERT_EQ(::stat(Other.c_str(), &Before), 0);
  const std::vector<std::uint8_t> OtherBytes = ReadBytes(Other);
  ClickRemove();

  EXPECT_EQ(Row(Id), (TRowState{fsOk, ""}));
  EXPECT_FALSE(OsslVerify(Dropped).HasSignature);
  struct stat After {};
  ASSERT_EQ(::stat(Other.c_str(), &After), 0);
  EXPECT_EQ(After.st_ino, Before.st_ino);
  EXPECT_EQ(ReadBytes(Other), OtherBytes);
  EXPECT_TRUE(OsslVerify(Other).SignatureOk);
}
