// The verification batch through the real window: the pop-up menu entry over a mixed list.
#include <gtest/gtest.h>

#include <QAction>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <variant>

#include "app/Translations.h"
#include "authenticode/VerifySignature.h"
#include "common/PeHeaders.h"
#include "common/uPubFunc.h"
#include "ui/TFileListView.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/PromptRecorder.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"
#include "support/WindowTexts.h"
#include "ui/uFrmMain.h"

namespace {
class VerifyBatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    const TTestPki& Pki = TestPki();
    const std::string Trust = PathOf("trust.pem");
    std::ofstream TrustFile(Trust);
    for (const std::string& Root : {Pki.CaCertPath, Pki.TsaCaCertPath}) TrustFile << std::ifstream(Root).rdbuf();
    TrustFile.close();
    Form.FConfigFile = PathOf("config.ini");
    std::ofstream(Form.FConfigFile) << "[Options]\nVerifyTrustFile=" << Trust << "\n";
  }

  std::string PathOf(const std::string& Name) const { return Folder.filePath(QString::fromStdString(Name)).toStdString(); }

  std::string Program(const std::string& Name, const std::vector<std::string>& SignOptions, bool Sign = true) const {
    const std::string Plain = PathOf(Name + ".plain");
    WriteBytes(Plain, BuildPe({TPeKind::Exe32, 0, false}));
    if (!Sign) return Plain;
    const std::string Path = PathOf(Name);
    EXPECT_TRUE(OsslSign(Plain, Path, SignOptions));
    return Path;
  }

  TFileListModel& Files() { return *Form.vstFiles->Files(); }
  int StatusOf(TRowId Id) { return Files().Item(Id)->Status; }
  std::string InfoOf(TRowId Id) { return ToString(Files().Item(Id)->Info); }

  // Starts the batch from the menu and waits for its summary.
  void VerifyAndWait() {
    Form.pmiVerify->trigger();
    EXPECT_EQ(Form.btnAddSign->text(), QCoreApplication::translate("TFrmMain", "停止(&S)"));
    EXPECT_FALSE(Form.btnDelSign->isEnabled());
    EXPECT_FALSE(Form.pmiVerify->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !Prompts.Shown().empty(); }, 60000));
    EXPECT_TRUE(Form.btnAddSign->isEnabled());
    EXPECT_TRUE(Form.btnDelSign->isEnabled());
    EXPECT_TRUE(Form.pmiVerify->isEnabled());
  }

  QTemporaryDir Folder;
  PromptRecorder Prompts;
  TFrmMain Form;
};
}  // namespace

TEST_F(VerifyBatch, EveryRowGetsItsVerdictWhenNoneIsSelected) {
  TimestampServer Server;
  const TRowId Stamped = Files().Append(Program("stamped.exe", {"-ts", Server.Url()}));
  const TRowId Plain = Files().Append(Program("plain.exe", {}));
  const TRowId Unsigned = Files().Append(Program("unsigned.exe", {}, false));
  const std::string ChangedPath = Program("changed.exe", {"-t", Server.Url()});
  auto Bytes = ReadBytes(ChangedPath);
  Bytes[std::get<TPeHeaders>(ReadPeHeaders(Bytes)).CertOffset / 2] ^= 0x01;
  WriteBytes(ChangedPath, Bytes);
  const TRowId Changed = Files().Append(ChangedPath);
  const TRowId Missing = Files().Append(PathOf("missing.exe"));
  Files().SetResult(Unsigned, fsOk, "an earlier result");

  VerifyAndWait();

  EXPECT_EQ(StatusOf(Stamped), fsOk) << InfoOf(Stamped);
  EXPECT_EQ(StatusOf(Plain), fsWarning) << InfoOf(Plain);
  EXPECT_EQ(StatusOf(Unsigned), fsFailed) << InfoOf(Unsigned);
  EXPECT_EQ(StatusOf(Changed), fsFailed) << InfoOf(Changed);
  EXPECT_EQ(StatusOf(Missing), fsFailed) << InfoOf(Missing);
  for (const TRowId Id : {Stamped, Plain, Unsigned, Changed, Missing})
    EXPECT_EQ(InfoOf(Id), VerifySignature(ToString(Files().Item(Id)->FileName), PathOf("trust.pem")).Message);
  ASSERT_EQ(Prompts.Shown().size(), 1u) << ::testing::PrintToString(Prompts.Texts());
  EXPECT_EQ(Prompts.Last().Text, "共有5个操作文件，验证成功2个；失败3个");
  EXPECT_EQ(Prompts.Last().Style, static_cast<unsigned>(mbIconWarning));
}

TEST_F(VerifyBatch, RowsShowTheVerdictInTheUsersLanguage) {
  TimestampServer Server;
  const std::string Nested = Program("nested.exe", {"-ts", Server.Url()});
  ASSERT_TRUE(OsslSign(Nested, Nested, {"-nest", "-h", "sha1"}));
  const TTranslations English(TLanguage::English);
  std::vector<TRowId> Rows{Files().Append(Nested), Files().Append(Program("plain.exe", {})),
                           Files().Append(Program("unsigned.exe", {}, false)), Files().Append(PathOf("missing.exe"))};

  VerifyAndWait();

  EXPECT_EQ(StatusOf(Rows[0]), fsOk) << InfoOf(Rows[0]);
  // The message is made of several texts, with the timestamp and the nested signer between them.
  EXPECT_NE(InfoOf(Rows[0]).find(TestPki().SignerCommonName), std::string::npos) << InfoOf(Rows[0]);
  for (const TRowId Id : Rows)
    EXPECT_FALSE(HasChineseCharacter(QString::fromStdString(InfoOf(Id)))) << InfoOf(Id);
  EXPECT_FALSE(HasChineseCharacter(QString::fromStdString(Prompts.Last().Text))) << Prompts.Last().Text;
}

TEST_F(VerifyBatch, OnlySelectedRowsAreVerified) {
  const TRowId First = Files().Append(Program("first.exe", {}));
  const TRowId Second = Files().Append(Program("second.exe", {}, false));
  const TRowId Third = Files().Append(Program("third.exe", {}));
  Form.vstFiles->ClearSelection();
  Form.vstFiles->selectionModel()->select(Files().index(Files().RowOf(Second), 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);

  VerifyAndWait();

  EXPECT_EQ(StatusOf(First), fsPending);
  EXPECT_EQ(StatusOf(Second), fsFailed);
  EXPECT_EQ(StatusOf(Third), fsPending);
  ASSERT_EQ(Prompts.Shown().size(), 1u);
  EXPECT_EQ(Prompts.Last().Text, "共有1个操作文件，验证成功0个；失败1个");
}

TEST_F(VerifyBatch, WaitsWhileAnotherBatchHoldsTheList) {
  Files().Append(Program("a.exe", {}));
  Form.btnAddSign->setEnabled(false);
  Form.pmiVerify->trigger();
  EXPECT_TRUE(Form.pmiVerify->isEnabled());  // no batch was started
  EXPECT_TRUE(Form.btnDelSign->isEnabled());
}

TEST_F(VerifyBatch, UntrustedSignaturesCountAsFailures) {
  TimestampServer Server;
  std::ofstream(Form.FConfigFile, std::ios::trunc) << "[Options]\n";
  std::vector<TRowId> Rows;
  for (const char* Name : {"one.exe", "two.exe", "three.exe"}) Rows.push_back(Files().Append(Program(Name, {"-ts", Server.Url()})));
  const TRowId Unsigned = Files().Append(Program("unsigned.exe", {}, false));

  VerifyAndWait();

  // Intact signatures whose chain ends in a root nobody trusts: a warning in the row, no success.
  for (const TRowId Id : Rows) EXPECT_EQ(StatusOf(Id), fsWarning) << InfoOf(Id);
  EXPECT_EQ(StatusOf(Unsigned), fsFailed);
  ASSERT_EQ(Prompts.Shown().size(), 1u);
  EXPECT_EQ(Prompts.Last().Text, "共有4个操作文件，验证成功0个；失败4个");
  EXPECT_EQ(Prompts.Last().Style, static_cast<unsigned>(mbIconWarning));
}
