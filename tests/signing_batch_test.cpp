// The signing batch end to end through the main window: settings typed, Start clicked, the real
// signtool.exe beside the tests signing real program files against a loopback timestamp server.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <filesystem>
#include <algorithm>
#include <chrono>
#include <functional>
#include <iterator>
#include <atomic>
#include <mutex>
#include <optional>

#include "keys/AgentKey.h"
#include "ui/TFileListView.h"
#include "signing/TSignBatch.h"
#include "signing/TSignThread.h"
#include "support/AddressSpaceLimit.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/PromptRecorder.h"
#include "support/ScopedEnvironment.h"
#include "support/ShellLinkFiles.h"
#include "support/SoftToken.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"
#include "ui/uFrmMain.h"

namespace {
bool WaitUntil(const std::function<bool()>& Condition, int TimeoutMs = 180000) {
  QDeadlineTimer Deadline(TimeoutMs);
  while (!Condition()) {
    if (Deadline.hasExpired()) return false;
    QTest::qWait(5);
  }
  return true;
}

std::string ReadText(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// With warnings, a second line counts the files signed without a timestamp.
std::string Summary(int Total, int Succeeded, int Failed, int Warned = 0) {
  std::string Text = "共有" + std::to_string(Total) + "个操作文件，签名成功" + std::to_string(Succeeded) + "个；失败" +
                     std::to_string(Failed) + "个";
  if (Warned > 0) Text += "\n其中" + std::to_string(Warned) + "个文件签名时出现警告（没有时间戳），请查看列表中的提示。";
  return Text;
}

// A port on the loopback interface where nothing listens.
const char* const UnreachableTimestamp = "http://127.0.0.1:9/";

// For its life the key sessions keep their sockets in a private folder of its own.
class TSessionFolder {
 public:
  std::vector<std::string> Sockets() const {
    std::vector<std::string> Found;
    for (const auto& Entry : std::filesystem::directory_iterator(Folder.path().toStdString()))
      if (Entry.is_socket()) Found.push_back(Entry.path().string());
    return Found;
  }

 private:
  QTemporaryDir Folder;
  TScopedEnvironment Runtime{"XDG_RUNTIME_DIR", Folder.path().toStdString()};
};

class SigningBatch : public ::testing::Test {
 protected:
  QTemporaryDir Folder;
  std::string ConfigPath = Path("config.ini");
  PromptRecorder Prompts;
  std::unique_ptr<TFrmMain> Frm = std::make_unique<TFrmMain>();
  TFileListModel* Files = Frm->vstFiles->Files();
  QString PreviousDir = QDir::currentPath();
  // Refuses every time-stamp at once: files end signed with a warning without any retry.
  TimestampServer Rejecting{TTimestampBehaviour::Reject};
  const std::string RejectingTimestamp = Rejecting.Url();

  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    Frm->FConfigFile = ConfigPath;
    Frm->LoadHistory();
    Frm->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frm.get()));
  }
  void TearDown() override { QDir::setCurrent(PreviousDir); }

  std::string Path(const std::string& Name) const { return QDir(Folder.path()).filePath(QString::fromStdString(Name)).toStdString(); }

  std::string Program(const std::string& Name, TPeKind Kind = TPeKind::Exe32) {
    const std::string File = Path(Name);
    WriteBytes(File, BuildPe({Kind, 0, false}));
    return File;
  }

  static void Type(QComboBox* Box, const std::string& Text) {
    Box->lineEdit()->clear();
    QTest::keyClicks(Box->lineEdit(), QString::fromStdString(Text));
  }
  void TypeSettings(const std::string& Cert, const std::string& Password, const std::string& TimeStamp,
                    const std::string& Description = "") {
    Type(Frm->cbFile, Cert);
    Frm->edtPwd->clear();
    QTest::keyClicks(Frm->edtPwd, QString::fromStdString(Password));
    Type(Frm->cbTimeStamp, TimeStamp);
    Type(Frm->cbDescription, Description);
  }

  // Clicks Start and waits until the batch has ended and the buttons are back.
  void RunBatch() {
    QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Frm->btnAddSign->isEnabled() && Frm->btnDelSign->isEnabled(); }));
  }

  // Drops files on the list as a file manager does.
  void Drop(const std::vector<std::string>& Names) {
    QList<QUrl> Urls;
    for (const std::string& Name : Names) Urls.append(QUrl::fromLocalFile(QString::fromStdString(Name)));
    QMimeData Data;
    Data.setUrls(Urls);
    const Qt::DropActions Possible = Qt::CopyAction;
    QDragEnterEvent Enter(QPoint(20, 20), Possible, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Frm->vstFiles->viewport(), &Enter);
    QDropEvent Event(QPointF(20, 20), Possible, &Data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Frm->vstFiles->viewport(), &Event);
  }
  TRowId LastRow() const { return Files->IdAt(Files->Count() - 1); }

  const TFileItem& Row(TRowId Id) const { return *Files->Item(Id); }
  std::string InfoOf(TRowId Id) const { return ToString(Row(Id).Info); }

  // The box that has the focus; an editable drop-down box has it through its edit line.
  QWidget* Focused() const {
    QWidget* Widget = Frm->focusWidget();
    if (Widget != nullptr && qobject_cast<QComboBox*>(Widget->parentWidget())) Widget = Widget->parentWidget();
    return Widget;
  }
};

TEST_F(SigningBatch, SignsEachFileAndSummarises) {
  TimestampServer Tsa;
  const std::string First = Program("first.exe");
  const std::string Second = Program("second.dll", TPeKind::Dll64);
  const std::string Text = Path("readme.exe");
  std::ofstream(Text) << "not a program\n";
  Drop({First, Second, Text});
  ASSERT_EQ(Files->Count(), 3);
  const TRowId FirstRow = Files->IdAt(0);
  const TRowId SecondRow = Files->IdAt(1);
  const TRowId TextRow = Files->IdAt(2);

  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, Tsa.Url(), "Quillory test build");
  RunBatch();

  ASSERT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(3, 2, 1)});
  EXPECT_EQ(Prompts.Last().Title, "提示");
  EXPECT_EQ(Prompts.Last().Style, static_cast<unsigned>(mbIconInformation));
  for (const TRowId Id : {FirstRow, SecondRow}) {
    EXPECT_EQ(Row(Id).Status, fsOk) << InfoOf(Id);
    EXPECT_EQ(InfoOf(Id), "");
  }
  EXPECT_EQ(Row(TextRow).Status, fsFailed);
  EXPECT_NE(InfoOf(TextRow).find("SignTool Error"), std::string::npos) << InfoOf(TextRow);
  EXPECT_EQ(ReadText(Text), "not a program\n");
  for (const std::string& File : {First, Second}) {
    const TOsslVerdict Verify = OsslVerify(File);
    EXPECT_TRUE(Verify.SignatureOk) << Verify.Output;
    EXPECT_TRUE(Verify.TimestampOk) << Verify.Output;
  }
  EXPECT_GE(Tsa.RequestCount(), 2);

  // The four histories are saved; the password nowhere.
  const std::string Config = ReadText(ConfigPath);
  for (const char* Section : {"[Description]", "[File]", "[URL]", "[TimeStamp]"})
    EXPECT_NE(Config.find(Section), std::string::npos) << Section;
  EXPECT_NE(Config.find("1=" + TestPki().PfxPath), std::string::npos);
  EXPECT_NE(Config.find("1=" + Tsa.Url()), std::string::npos);
  EXPECT_EQ(Config.find(TestPki().PfxPassword), std::string::npos);
}

TEST_F(SigningBatch, ACertificateOnATokenSignsTheDroppedList) {
  TimestampServer Tsa;
  const TSoftToken& Token = SoftToken();
  const std::string First = Program("token first.exe");
  const std::string Second = Program("token second.dll", TPeKind::Dll64);
  Drop({First, Second});
  ASSERT_EQ(Files->Count(), 2);

  TypeSettings(Token.EcKeyUri, Token.Pin, Tsa.Url(), "Token build");
  RunBatch();

  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(2, 2, 0)});
  for (const std::string& File : {First, Second}) {
    const TOsslVerdict Verify = OsslVerify(File);
    EXPECT_TRUE(Verify.SignatureOk && Verify.TimestampOk) << Verify.Output;
    EXPECT_NE(Verify.Output.find("CN=" + TestPki().EcSignerCommonName), std::string::npos) << Verify.Output;
  }
  // The URI is remembered like a path; the PIN nowhere.
  const std::string Config = ReadText(ConfigPath);
  EXPECT_NE(Config.find("1=" + Token.EcKeyUri), std::string::npos) << Config;
  EXPECT_EQ(Config.find(Token.Pin), std::string::npos);
}

TEST_F(SigningBatch, TheAddressTypedIsSignedWithTheDescription) {
  TimestampServer Tsa;
  const std::string WithAddress = Program("with address.exe");
  Files->Append(WithAddress);
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, Tsa.Url(), "Product");
  Type(Frm->cbURL, "https://example.com/product");
  RunBatch();
  TOsslVerdict Verify = OsslVerify(WithAddress);
  EXPECT_TRUE(Verify.SignatureOk) << Verify.Output;
  EXPECT_NE(Verify.Output.find("URL description: https://example.com/product"), std::string::npos) << Verify.Output;
  EXPECT_NE(Verify.Output.find("Text description: Product"), std::string::npos) << Verify.Output;

  const std::string Without = Program("without.exe");
  Files->Append(Without);
  Type(Frm->cbURL, "");
  RunBatch();
  Verify = OsslVerify(Without);
  EXPECT_TRUE(Verify.SignatureOk) << Verify.Output;
  EXPECT_EQ(Verify.Output.find("URL description"), std::string::npos) << Verify.Output;
  EXPECT_NE(Verify.Output.find("Text description: Product"), std::string::npos) << Verify.Output;
}

TEST_F(SigningBatch, ATokenCertificateThatIsNotPresentStopsStart) {
  const TSoftToken& Token = SoftToken();
  const std::string File = Program("kept.exe");
  Files->Append(File);
  std::size_t Shown = 0;
  for (const std::string Uri : {"pkcs11:token=Not%20Plugged%20In;id=%01", "pkcs11:token=Quillory%20Test%20Token;id=%07",
                                "pkcs11:id=%zz"}) {
    TypeSettings(Uri, Token.Pin, "http://127.0.0.1:9/");
    Frm->edtPwd->setFocus();
    QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
    ASSERT_EQ(Prompts.Texts().size(), ++Shown) << Uri;
    EXPECT_NE(Prompts.Texts().back().find("找不到"), std::string::npos) << Prompts.Texts().back();
    QWidget* Focused = Frm->focusWidget();
    ASSERT_NE(Focused, nullptr);
    if (qobject_cast<QComboBox*>(Focused->parentWidget())) Focused = Focused->parentWidget();
    EXPECT_EQ(Focused, Frm->cbFile) << Uri;
    EXPECT_TRUE(Frm->btnAddSign->isEnabled());
  }
  EXPECT_FALSE(QFile::exists(QString::fromStdString(ConfigPath)));
  EXPECT_EQ(Row(Files->IdAt(0)).Status, fsPending);
  EXPECT_FALSE(OsslVerify(File).HasSignature);
}

TEST_F(SigningBatch, AnUnreachableTimestampServerGivesAWarningThatCountsAsSuccess) {
  const std::string File = Program("app.exe", TPeKind::Exe64);
  const TRowId Id = Files->Append(File);
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, UnreachableTimestamp);
  RunBatch();

  EXPECT_EQ(Row(Id).Status, fsWarning);
  EXPECT_EQ(InfoOf(Id).rfind("SignTool Warning", 0), 0u) << InfoOf(Id);
  // The Part's sentence stays; the second line tells of the missing timestamp, in a warning box.
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(1, 1, 0, 1)});
  EXPECT_EQ(Prompts.Last().Title, "警告");
  EXPECT_EQ(Prompts.Last().Style, static_cast<unsigned>(mbIconWarning));
  const TOsslVerdict Verify = OsslVerify(File);
  EXPECT_TRUE(Verify.SignatureOk) << Verify.Output;
  EXPECT_FALSE(Verify.TimestampOk) << Verify.Output;
}

TEST_F(SigningBatch, AKeyThatCannotBeOpenedRefusesStartBeforeAnyRowChanges) {
  std::vector<std::pair<TRowId, std::string>> Rows;
  for (const char* Name : {"a.exe", "b.exe"}) {
    const std::string File = Program(Name);
    Rows.emplace_back(Files->Append(File), File);
  }
  const std::vector<std::uint8_t> Unsigned = ReadBytes(Rows[0].second);
  const std::string NotPfx = Path("not a pfx.pfx");
  std::ofstream(NotPfx) << "-----BEGIN CERTIFICATE-----\n";
  struct TCase {
    std::string Cert, Password, Message;
    QWidget* Focus;
  };
  for (const TCase& Case : {TCase{TestPki().PfxPath, "not the password", "证书密码不正确", Frm->edtPwd},
                            TCase{NotPfx, "pw", "证书文件不是PFX文件，或其中没有私钥和证书", Frm->cbFile}}) {
    TypeSettings(Case.Cert, Case.Password, RejectingTimestamp);
    Frm->btnExit->setFocus();
    const std::size_t Before = Prompts.Shown().size();
    RunBatch();
    ASSERT_EQ(Prompts.Shown().size(), Before + 1) << Case.Password;
    EXPECT_EQ(Prompts.Last().Text, Case.Message);
    EXPECT_EQ(Prompts.Last().Title, "提示");
    EXPECT_EQ(Focused(), Case.Focus) << Case.Message;
    for (const auto& [Id, File] : Rows) {
      EXPECT_EQ(Row(Id).Status, fsPending);
      EXPECT_EQ(InfoOf(Id), "");
      EXPECT_EQ(ReadBytes(File), Unsigned);
    }
  }
}

TEST_F(SigningBatch, ClosingWhileTheKeyIsOpenedStartsNothing) {
  const std::string File = Program("app.exe");
  const TRowId Id = Files->Append(File);
  const std::vector<std::uint8_t> Unsigned = ReadBytes(File);
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
  EXPECT_FALSE(Frm->close());
  ASSERT_TRUE(WaitUntil([&] { return !Frm->isVisible(); }));
  EXPECT_EQ(Row(Id).Status, fsPending);
  EXPECT_EQ(ReadBytes(File), Unsigned);
  EXPECT_TRUE(Prompts.Shown().empty());

  // Destroyed while the key is opened, the window waits for it and ends the session it brings.
  const TSessionFolder Sessions;
  Frm->show();
  QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
  Frm.reset();
  EXPECT_TRUE(Sessions.Sockets().empty());
  EXPECT_EQ(ReadBytes(File), Unsigned);
}

TEST_F(SigningBatch, TheFourChecksComeInOrderAndStopStart) {
  struct TStep {
    std::string Cert, Password, TimeStamp;
    const char* Message;
    QWidget* Focus;
  };
  const std::string Pfx = TestPki().PfxPath;
  const std::vector<TStep> Steps = {
      {"  ", "", " ", "证书文件不能为空", Frm->cbFile},
      {Path("missing.pfx"), "", "", "证书文件不存在", Frm->cbFile},
      {Folder.path().toStdString(), "pw", "http://t", "证书文件不存在", Frm->cbFile},
      {" " + Pfx + " ", "", "", "签名密码不能为空", Frm->edtPwd},
      {Pfx, "pw", " \t ", "时间戳不能为空", Frm->cbTimeStamp},
  };
  Files->Append(Program("app.exe"));
  for (const TStep& Step : Steps) {
    TypeSettings(Step.Cert, Step.Password, Step.TimeStamp);
    Frm->btnExit->setFocus();
    const std::size_t Before = Prompts.Shown().size();
    QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
    ASSERT_EQ(Prompts.Shown().size(), Before + 1) << Step.Cert;
    EXPECT_EQ(Prompts.Last().Text, Step.Message) << Step.Cert;
    EXPECT_EQ(Prompts.Last().Title, "提示");
    QWidget* Focused = Frm->focusWidget();
    ASSERT_NE(Focused, nullptr);
    // An editable drop-down box takes the focus through its edit line.
    if (qobject_cast<QComboBox*>(Focused->parentWidget())) Focused = Focused->parentWidget();
    EXPECT_EQ(Focused, Step.Focus) << Step.Message << ": focus on " << Focused->objectName().toStdString();
    EXPECT_TRUE(Frm->btnAddSign->isEnabled());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(ConfigPath)));
  }
  // A password of blanks passes its check, and goes on to open the key.
  TypeSettings(Pfx, "   ", RejectingTimestamp);
  const std::size_t Before = Prompts.Shown().size();
  RunBatch();
  ASSERT_EQ(Prompts.Shown().size(), Before + 1);
  EXPECT_EQ(Prompts.Last().Text, "证书密码不正确");
}

TEST_F(SigningBatch, ACertificatePathRelativeToTheProgramFolder) {
  const QString ProgramDir = QCoreApplication::applicationDirPath();
  const std::string Relative = QDir(ProgramDir).relativeFilePath(QString::fromStdString(TestPki().PfxPath)).toStdString();
  ASSERT_NE(Relative.rfind("..", 0), std::string::npos) << Relative;
  const TRowId Id = Files->Append(Program("app.exe"));
  ASSERT_TRUE(QDir::setCurrent(Folder.path()));
  TypeSettings(Relative, TestPki().PfxPassword, RejectingTimestamp);
  RunBatch();
  EXPECT_EQ(QDir::currentPath(), ProgramDir);
  EXPECT_EQ(Row(Id).Status, fsWarning) << InfoOf(Id);
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(1, 1, 0, 1)});
}

TEST_F(SigningBatch, AnEmptyListOnlyShowsTheSummary) {
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
  // The key is being opened: nothing can be started meanwhile.
  EXPECT_FALSE(Frm->btnAddSign->isEnabled());
  EXPECT_FALSE(Frm->btnDelSign->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return Frm->btnDelSign->isEnabled(); }));
  EXPECT_EQ(Frm->btnAddSign->text(), "开始签名(&S)");
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(0, 0, 0)});
}

TEST_F(SigningBatch, ValuesWithBlanksAndQuotesReachTheToolWhole) {
  TimestampServer Tsa;
  const std::string Password = "pa ss \"word\" \\\"";
  QDir(Folder.path()).mkpath("my \"certs\" folder");
  const std::string Pfx = Path("my \"certs\" folder/signer cert.pfx");
  ASSERT_TRUE(QFile::copy(QString::fromStdString(PfxWithPassword(Password)), QString::fromStdString(Pfx)));
  QDir(Folder.path()).mkpath("out put");
  const std::string File = Program("out put/my \"app\".exe");
  const TRowId Id = Files->Append(File);
  TypeSettings(Pfx, Password, Tsa.Url(), "say \"hi\" \\");
  RunBatch();
  EXPECT_EQ(Row(Id).Status, fsOk) << InfoOf(Id);
  const TOsslVerdict Verify = OsslVerify(File);
  EXPECT_TRUE(Verify.SignatureOk) << Verify.Output;
  EXPECT_TRUE(Verify.TimestampOk) << Verify.Output;
  EXPECT_EQ(ReadText(ConfigPath).find(Password), std::string::npos);
}

TEST_F(SigningBatch, RowsDeletedOrAddedDuringTheBatch) {
  std::vector<TRowId> Ids;
  for (int I = 0; I < 5; ++I) Ids.push_back(Files->Append(Program("file" + std::to_string(I) + ".exe")));
  const std::string Late = Program("late.exe");
  std::optional<TRowId> LateRow;
  // When the first file is done: delete it, the two after it, and add a new file at the end.
  QMetaObject::Connection Hook = QObject::connect(Files, &TFileListModel::dataChanged, [&] {
    if (LateRow || Row(Ids[0]).Status == fsPending) return;
    Files->RemoveRowsAt({0, 1, 2});
    Drop({Late});
    LateRow = LastRow();
  });
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  RunBatch();
  QObject::disconnect(Hook);

  ASSERT_TRUE(LateRow.has_value());
  EXPECT_EQ(Files->Item(Ids[1]), nullptr);
  for (const TRowId Id : {Ids[3], Ids[4], *LateRow}) EXPECT_EQ(Row(Id).Status, fsWarning) << InfoOf(Id);
  // Four files went through the tool: the first, the two left of the original five, the new one.
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(4, 4, 0, 4)});
  EXPECT_FALSE(OsslVerify(Path("file1.exe")).HasSignature);
}

TEST_F(SigningBatch, EachFileUsesTheTextsCurrentWhenItsTurnComesAndTheKeyOpenedAtStart) {
  TimestampServer Tsa;
  const TRowId First = Files->Append(Program("first.exe"));
  const TRowId Second = Files->Append(Program("second.exe"));
  QMetaObject::Connection Hook = QObject::connect(Files, &TFileListModel::dataChanged, [&] {
    if (Row(First).Status == fsPending) return;
    Type(Frm->cbTimeStamp, RejectingTimestamp);
    // The key was opened for the whole batch: neither of these reaches the second file.
    Frm->edtPwd->setText("changed to a wrong one");
    Type(Frm->cbFile, Path("missing.pfx"));
  });
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, Tsa.Url());
  RunBatch();
  QObject::disconnect(Hook);
  EXPECT_EQ(Row(First).Status, fsOk) << InfoOf(First);
  EXPECT_EQ(Row(Second).Status, fsWarning) << InfoOf(Second);
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(2, 2, 0, 1)});
  EXPECT_TRUE(OsslVerify(Path("second.exe")).SignatureOk);
}

TEST_F(SigningBatch, AFileGoneFromDiskFails) {
  const std::string File = Program("gone.exe");
  const TRowId Id = Files->Append(File);
  ASSERT_TRUE(QFile::remove(QString::fromStdString(File)));
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  RunBatch();
  EXPECT_EQ(Row(Id).Status, fsFailed);
  EXPECT_EQ(InfoOf(Id), "找不到文件：" + File);
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(1, 0, 1)});
}

TEST_F(SigningBatch, AShortcutToAWindowsPathSaysItsFileWasNotFound) {
  const std::string Link = Path("app.lnk");
  WriteBytes(Link, ShellLinkTo("C:\\tools\\app.exe"));
  const std::string Here = Program("here.exe");
  Drop({Link, Here});
  ASSERT_EQ(Files->Count(), 2);
  const TRowId Windows = Files->IdAt(0);
  EXPECT_EQ(Files->FileName(Windows), "C:\\tools\\app.exe");
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  RunBatch();
  EXPECT_EQ(Row(Windows).Status, fsFailed);
  EXPECT_EQ(InfoOf(Windows), "找不到文件：C:\\tools\\app.exe");
  EXPECT_EQ(Row(Files->IdAt(1)).Status, fsWarning) << InfoOf(Files->IdAt(1));
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(2, 1, 1, 1)});
}

TEST_F(SigningBatch, ClosingTheWindowAsksThenStopsAfterTheCurrentFile) {
  std::vector<TRowId> Ids;
  for (int I = 0; I < 4; ++I) Ids.push_back(Files->Append(Program("file" + std::to_string(I) + ".exe")));
  bool CloseAccepted = true;
  QString CaptionWhileStopping, TitleWhileStopping;
  bool StartEnabledWhileStopping = true;
  Prompts.QueueAnswer(idYes);
  QMetaObject::Connection Hook = QObject::connect(Files, &TFileListModel::dataChanged, [&] {
    if (Row(Ids[0]).Status == fsPending || !Frm->isVisible() || !CaptionWhileStopping.isEmpty()) return;
    CloseAccepted = Frm->close();
    CaptionWhileStopping = Frm->btnAddSign->text();
    StartEnabledWhileStopping = Frm->btnAddSign->isEnabled();
    TitleWhileStopping = Frm->windowTitle();
  });
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return !Frm->isVisible(); }));
  QObject::disconnect(Hook);
  EXPECT_FALSE(CloseAccepted);
  // Until the file under way was done the window said it was stopping.
  EXPECT_EQ(CaptionWhileStopping, "正在停止...");
  EXPECT_FALSE(StartEnabledWhileStopping);
  EXPECT_TRUE(TitleWhileStopping.contains("正在停止")) << TitleWhileStopping.toStdString();
  EXPECT_EQ(Row(Ids[0]).Status, fsWarning);
  EXPECT_TRUE(OsslVerify(Path("file0.exe")).SignatureOk);
  // The file under way when the window was closed is signed whole and reported; none after it.
  int Reported = 0;
  for (std::size_t I = 1; I < Ids.size(); ++I) {
    const bool Signed = OsslVerify(Path("file" + std::to_string(I) + ".exe")).HasSignature;
    EXPECT_EQ(Row(Ids[I]).Status, Signed ? fsWarning : fsPending) << I;
    Reported += Signed ? 1 : 0;
  }
  EXPECT_LE(Reported, 1);
  // The question, and no summary after it.
  ASSERT_EQ(Prompts.Texts(), std::vector<std::string>{"正在签名，确定要停止并退出吗？"});
  EXPECT_EQ(Prompts.Last().Title, "询问");
  EXPECT_TRUE(Frm->btnAddSign->isEnabled());
}

TEST_F(SigningBatch, ClosingAnsweredNoLetsTheBatchGoOn) {
  std::vector<TRowId> Ids;
  for (int I = 0; I < 3; ++I) Ids.push_back(Files->Append(Program("file" + std::to_string(I) + ".exe")));
  bool Asked = false;
  QMetaObject::Connection Hook = QObject::connect(Files, &TFileListModel::dataChanged, [&] {
    if (Asked || Row(Ids[0]).Status == fsPending) return;
    Asked = true;
    EXPECT_FALSE(Frm->close());
  });
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  RunBatch();
  QObject::disconnect(Hook);
  EXPECT_TRUE(Frm->isVisible());
  for (const TRowId Id : Ids) EXPECT_EQ(Row(Id).Status, fsWarning);
  EXPECT_EQ(Prompts.Texts(), (std::vector<std::string>{"正在签名，确定要停止并退出吗？", Summary(3, 3, 0, 3)}));
}

TEST_F(SigningBatch, DestroyingTheWindowDuringABatchEndsTheWorkerFirst) {
  std::vector<std::string> Programs;
  for (int I = 0; I < 4; ++I) {
    Programs.push_back(Program("file" + std::to_string(I) + ".exe"));
    Files->Append(Programs.back());
  }
  bool Destroyed = false;
  QObject::connect(Files, &TFileListModel::dataChanged, [&] {
    if (Destroyed) return;
    Destroyed = true;
    QTimer::singleShot(0, [&] { Frm.reset(); });
  });
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return Frm == nullptr; }));
  // The worker was waited for: at most the file it was signing was finished after the first.
  int Signed = 0;
  for (const std::string& File : Programs) Signed += OsslVerify(File).HasSignature ? 1 : 0;
  EXPECT_GE(Signed, 1);
  EXPECT_LE(Signed, 2);
  EXPECT_TRUE(Prompts.Shown().empty());
}

TEST_F(SigningBatch, AHistoryThatCannotBeSavedAbandonsStart) {
  Frm->FConfigFile = Path("no such folder/config.ini");
  Files->Append(Program("app.exe"));
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
  ASSERT_EQ(Prompts.Texts(), std::vector<std::string>{"Unable to write to " + Frm->FConfigFile + "."});
  EXPECT_EQ(Prompts.Last().Style, static_cast<unsigned>(mbIconError));
  EXPECT_TRUE(Frm->btnAddSign->isEnabled());
  EXPECT_TRUE(Frm->btnDelSign->isEnabled());
}

// Batches with several files at a time, set in [Options] of config.ini.
class ParallelSigningBatch : public SigningBatch {
 protected:
  void SetParallelism(const std::string& Value) {
    std::ofstream(ConfigPath) << "[Options]\nSignParallelism=" << Value << "\n";
  }

  // Count programs, with a text file that cannot be signed at every Every-th place.
  std::vector<std::pair<TRowId, std::string>> ListFiles(int Count, int Every = 0) {
    std::vector<std::pair<TRowId, std::string>> Rows;
    for (int I = 0; I < Count; ++I) {
      const std::string Name = "file" + std::to_string(I);
      std::string File;
      if (Every > 0 && I % Every == Every - 1) {
        File = Path(Name + ".exe");
        std::ofstream(File) << "text, not a program\n";
      } else {
        File = Program(Name + ".exe");
      }
      Rows.emplace_back(Files->Append(File), File);
    }
    return Rows;
  }

  static bool IsText(const std::string& File) { return ReadText(File).rfind("text,", 0) == 0; }

  void StopAtTheFifthRow(const std::vector<std::pair<TRowId, std::string>>& Rows);

  // The rows that have a result.
  int RowsDone(const std::vector<std::pair<TRowId, std::string>>& Rows) const {
    int Done = 0;
    for (const auto& [Id, File] : Rows)
      if (Files->Item(Id) != nullptr && Row(Id).Status != fsPending) ++Done;
    return Done;
  }
};

TEST_F(ParallelSigningBatch, FourAtATimeGiveEachRowItsOwnResult) {
  TimestampServer Tsa(TTimestampBehaviour::Answer, std::chrono::milliseconds(300));
  SetParallelism("4");
  const auto Rows = ListFiles(20, 5);
  std::vector<QString> Titles;
  const QString PlainTitle = Frm->windowTitle();
  QObject::connect(Frm.get(), &QWidget::windowTitleChanged, [&](const QString& Title) { Titles.push_back(Title); });
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, Tsa.Url());
  RunBatch();

  ASSERT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(20, 16, 4)});
  for (const auto& [Id, File] : Rows) {
    if (IsText(File)) {
      EXPECT_EQ(Row(Id).Status, fsFailed) << File;
      EXPECT_NE(InfoOf(Id).find("SignTool Error"), std::string::npos) << InfoOf(Id);
      EXPECT_NE(InfoOf(Id).find(File), std::string::npos) << InfoOf(Id);
      continue;
    }
    EXPECT_EQ(Row(Id).Status, fsOk) << File << ": " << InfoOf(Id);
    const TOsslVerdict Verify = OsslVerify(File);
    EXPECT_TRUE(Verify.SignatureOk && Verify.TimestampOk) << File << "\n" << Verify.Output;
  }
  EXPECT_GE(Tsa.MostAtOnce(), 2);
  EXPECT_LE(Tsa.MostAtOnce(), 4);
  // Progress was shown in the title, up to all twenty, and went away with the batch.
  EXPECT_TRUE(std::any_of(Titles.begin(), Titles.end(), [](const QString& T) { return T.contains("20/20"); }));
  EXPECT_EQ(Frm->windowTitle(), PlainTitle);
  // The file kept its option beside the histories.
  EXPECT_NE(ReadText(ConfigPath).find("SignParallelism=4"), std::string::npos);
}

TEST_F(ParallelSigningBatch, FourAtATimeWithAKeyOnATokenSignEveryFile) {
  // The signings take turns on the token; the waits for the server overlap.
  TimestampServer Tsa(TTimestampBehaviour::Answer, std::chrono::milliseconds(1000));
  SetParallelism("4");
  const auto Rows = ListFiles(8);
  TypeSettings(SoftToken().EcKeyUri, SoftToken().Pin, Tsa.Url());
  RunBatch();

  for (const auto& [Id, File] : Rows) if (Row(Id).Status != fsOk) ADD_FAILURE() << File << ": " << InfoOf(Id);
  ASSERT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(8, 8, 0)});
  for (const auto& [Id, File] : Rows) {
    EXPECT_EQ(Row(Id).Status, fsOk) << File << ": " << InfoOf(Id);
    const TOsslVerdict Verify = OsslVerify(File);
    EXPECT_TRUE(Verify.SignatureOk && Verify.TimestampOk) << File << "\n" << Verify.Output;
  }
  EXPECT_GE(Tsa.MostAtOnce(), 2);
}

TEST_F(ParallelSigningBatch, RowsDeletedWhileOthersAreUnderWay) {
  SetParallelism("4");
  const auto Rows = ListFiles(12);
  // When the first result comes, the first four rows have begun: delete one of them still under
  // way and four rows not begun yet.
  bool Deleted = false;
  QMetaObject::Connection Hook = QObject::connect(Files, &TFileListModel::dataChanged, [&] {
    if (Deleted || RowsDone(Rows) == 0) return;
    Deleted = true;
    int UnderWay = 0;
    while (Row(Rows[UnderWay].first).Status != fsPending) ++UnderWay;
    Files->RemoveRowsAt({UnderWay, 6, 7, 8, 9});
  });
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  RunBatch();
  QObject::disconnect(Hook);

  ASSERT_TRUE(Deleted);
  // The deleted row under way was signed all the same and counts, as in a batch of one at a time.
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(8, 8, 0, 8)});
  for (std::size_t I = 0; I < Rows.size(); ++I) {
    const bool NeverBegun = I >= 6 && I <= 9;
    EXPECT_EQ(OsslVerify(Rows[I].second).HasSignature, !NeverBegun) << I;
    if (Files->Item(Rows[I].first) != nullptr) {
      EXPECT_EQ(Row(Rows[I].first).Status, fsWarning) << I;
    }
  }
}

TEST_F(ParallelSigningBatch, ClosingBeginsNoFurtherFileAndWaitsForThoseUnderWay) {
  SetParallelism("4");
  const auto Rows = ListFiles(12);
  Prompts.QueueAnswer(idYes);
  bool CloseAccepted = true;
  bool Closed = false;
  QMetaObject::Connection Hook = QObject::connect(Files, &TFileListModel::dataChanged, [&] {
    if (Closed || RowsDone(Rows) == 0) return;
    Closed = true;
    CloseAccepted = Frm->close();
  });
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] { return !Frm->isVisible(); }));
  QObject::disconnect(Hook);

  EXPECT_FALSE(CloseAccepted);
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{"正在签名，确定要停止并退出吗？"});
  EXPECT_TRUE(Frm->btnAddSign->isEnabled());
  // Only the four files begun before the close were signed, and each of them has its result.
  for (std::size_t I = 0; I < Rows.size(); ++I) {
    const bool Finished = I < 4;
    EXPECT_EQ(Row(Rows[I].first).Status, Finished ? fsWarning : fsPending) << I;
    EXPECT_EQ(OsslVerify(Rows[I].second).HasSignature, Finished) << I;
  }
}

// Stop pressed once the fifth of 40 rows is done: no file is begun after the press, the files
// under way end signed and reported, the rows never begun stay pending with their files untouched,
// and the summary counts what was done.
void ParallelSigningBatch::StopAtTheFifthRow(const std::vector<std::pair<TRowId, std::string>>& Rows) {
  TFrmMain& Frm = *this->Frm;
  auto* Batch = Frm.findChild<TSignBatch*>();
  ASSERT_NE(Batch, nullptr);
  bool Scheduled = false;
  bool Pressed = false;
  int BegunAfterPress = 0;
  QString CaptionWhileStopping;
  QObject::connect(Batch, &TFileBatch::RowStarted, &Frm, [&] { BegunAfterPress += Pressed ? 1 : 0; });
  QMetaObject::Connection Hook = QObject::connect(Files, &TFileListModel::dataChanged, [&] {
    if (Scheduled || Row(Rows[4].first).Status == fsPending) return;
    // As a person would: after the row has been painted, not inside its update.
    Scheduled = true;
    QTimer::singleShot(0, &Frm, [&] {
      EXPECT_EQ(Frm.btnAddSign->text(), "停止(&S)");
      Pressed = true;
      QTest::mouseClick(Frm.btnAddSign, Qt::LeftButton);
      CaptionWhileStopping = Frm.btnAddSign->text();
    });
  });
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  RunBatch();
  QObject::disconnect(Hook);

  ASSERT_TRUE(Pressed);
  EXPECT_EQ(BegunAfterPress, 0);
  EXPECT_EQ(CaptionWhileStopping, "正在停止...");
  int Reported = 0;
  for (const auto& [Id, File] : Rows) {
    const TOsslVerdict Verify = OsslVerify(File);
    if (Row(Id).Status == fsPending) {
      EXPECT_FALSE(Verify.HasSignature) << File;
      continue;
    }
    ++Reported;
    EXPECT_EQ(Row(Id).Status, fsWarning) << File;
    EXPECT_TRUE(Verify.SignatureOk) << File << "\n" << Verify.Output;
  }
  EXPECT_GE(Reported, 5);
  EXPECT_LT(Reported, static_cast<int>(Rows.size()));
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(Reported, Reported, 0, Reported)});
  EXPECT_EQ(Frm.btnAddSign->text(), "开始签名(&S)");
}

TEST_F(ParallelSigningBatch, StopAtTheFifthRowOneAtATime) {
  SetParallelism("1");
  const auto Rows = ListFiles(40);
  StopAtTheFifthRow(Rows);
}

TEST_F(ParallelSigningBatch, StopAtTheFifthRowEightAtATime) {
  SetParallelism("8");
  const auto Rows = ListFiles(40);
  StopAtTheFifthRow(Rows);
}

TEST_F(ParallelSigningBatch, OptionAbsentOrOutOfRange) {
  struct TCase {
    std::optional<std::string> Value;
    bool OneAtATime;
  };
  for (const TCase& Case : {TCase{std::nullopt, true}, TCase{"0", true}, TCase{"-3", true}, TCase{"many", true},
                            TCase{"99", false}}) {
    const std::string Shown = Case.Value.value_or("absent");
    QFile::remove(QString::fromStdString(ConfigPath));
    if (Case.Value) SetParallelism(*Case.Value);
    TimestampServer Tsa(TTimestampBehaviour::Answer, std::chrono::milliseconds(300));
    const std::size_t Before = Prompts.Shown().size();
    const auto Rows = ListFiles(3);
    TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, Tsa.Url());
    RunBatch();
    ASSERT_EQ(Prompts.Shown().size(), Before + 1) << Shown;
    EXPECT_EQ(Prompts.Last().Text, Summary(3, 3, 0)) << Shown;
    if (Case.OneAtATime) {
      EXPECT_EQ(Tsa.MostAtOnce(), 1) << Shown;
    } else {
      EXPECT_GE(Tsa.MostAtOnce(), 2) << Shown;
    }
    // Saving the histories kept the value as it was written.
    const std::string Config = ReadText(ConfigPath);
    if (Case.Value) {
      EXPECT_NE(Config.find("SignParallelism=" + *Case.Value), std::string::npos) << Config;
    } else {
      EXPECT_EQ(Config.find("[Options]"), std::string::npos) << Config;
    }
    Files->RemoveRowsAt({0, 1, 2});
  }
}

// Time-stamp servers that throttle or are down, with several files at a time.
TEST_F(ParallelSigningBatch, AServerThatThrottlesEveryFirstRequestStampsEveryFileInTheEnd) {
  TimestampServer Throttling(TTimestampBehaviour::ThrottleFirst);
  SetParallelism("4");
  const auto Rows = ListFiles(8);
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, Throttling.Url());
  RunBatch();
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(8, 8, 0)});
  for (const auto& [Id, File] : Rows) {
    EXPECT_EQ(Row(Id).Status, fsOk) << InfoOf(Id);
    const TOsslVerdict Verify = OsslVerify(File);
    EXPECT_TRUE(Verify.SignatureOk && Verify.TimestampOk) << File << "\n" << Verify.Output;
  }
  // The files are alike, so the server sees the same request for each and refuses only the first
  // of them; that one was asked again.
  EXPECT_GT(Throttling.RequestCount(), 8);
}

TEST_F(ParallelSigningBatch, AServerThatIsDownWarnsOnEveryRowAfterItsRetries) {
  SetParallelism("4");
  const auto Down = ListFiles(4);
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, UnreachableTimestamp);
  RunBatch();
  for (const auto& [Id, File] : Down) {
    EXPECT_EQ(Row(Id).Status, fsWarning) << InfoOf(Id);
    EXPECT_EQ(InfoOf(Id).rfind("SignTool Warning", 0), 0u) << InfoOf(Id);
    EXPECT_TRUE(OsslVerify(File).SignatureOk);
  }
  // A server that fails every request is asked three times per file, then given up.
  TimestampServer Failing(TTimestampBehaviour::Refuse);
  Files->RemoveRowsAt({0, 1, 2, 3});
  const auto Refused = ListFiles(2);
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, Failing.Url());
  RunBatch();
  for (const auto& [Id, File] : Refused) EXPECT_EQ(Row(Id).Status, fsWarning) << InfoOf(Id);
  EXPECT_EQ(Failing.RequestCount(), 2 * 3);
  EXPECT_EQ(Prompts.Texts(), (std::vector<std::string>{Summary(4, 4, 0, 4), Summary(2, 2, 0, 2)}));
}

TEST_F(ParallelSigningBatch, SeveralServersAsTypedAskedInTheProtocolChosen) {
  std::atomic<int> Rfc3161Requests = 0, OlderRequests = 0;
  TimestampServer Tsa(TTimestampBehaviour::Answer, [&](const THttpRequest& Request) -> std::optional<THttpResponse> {
    const auto Type = Request.Headers.find("content-type");
    ++(Type != Request.Headers.end() && Type->second == "application/timestamp-query" ? Rfc3161Requests : OlderRequests);
    return std::nullopt;
  });
  const auto Rows = ListFiles(2);
  // The first server is down: each file goes on to the second.
  const std::string Typed = std::string(UnreachableTimestamp) + " ;  " + Tsa.Url();
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, Typed);
  const auto AllStamped = [&] {
    for (const auto& [Id, File] : Rows) {
      EXPECT_EQ(Row(Id).Status, fsOk) << InfoOf(Id);
      const TOsslVerdict Verify = OsslVerify(File);
      EXPECT_TRUE(Verify.SignatureOk && Verify.TimestampOk) << File << "\n" << Verify.Output;
    }
  };
  RunBatch();
  AllStamped();
  EXPECT_EQ(OlderRequests, 2);
  EXPECT_EQ(Rfc3161Requests, 0);
  EXPECT_NE(ReadText(ConfigPath).find("\n1=" + Typed + "\n"), std::string::npos) << ReadText(ConfigPath);

  std::ofstream(ConfigPath, std::ios::app) << "[Options]\nTimestampProtocol=RFC3161\n";
  RunBatch();
  AllStamped();
  EXPECT_EQ(OlderRequests, 2);
  EXPECT_EQ(Rfc3161Requests, 2);
  EXPECT_EQ(Prompts.Texts(), (std::vector<std::string>{Summary(2, 2, 0), Summary(2, 2, 0)}));
}

TEST_F(ParallelSigningBatch, AThrottlingServerSeesTheWholeBatchAtOnePace) {
  // Allows one request per 300 ms and asks for a second's pause otherwise.
  std::mutex Lock;
  std::optional<std::chrono::steady_clock::time_point> LastAllowed;
  std::atomic<int> Refused = 0;
  TimestampServer Tsa(TTimestampBehaviour::Answer, [&](const THttpRequest&) -> std::optional<THttpResponse> {
    const std::lock_guard Guard(Lock);
    const auto Now = std::chrono::steady_clock::now();
    if (LastAllowed && Now - *LastAllowed < std::chrono::milliseconds(300)) {
      ++Refused;
      return THttpResponse{429, "text/plain", "slow down", {{"Retry-After", "1"}}};
    }
    LastAllowed = Now;
    return std::nullopt;
  });
  SetParallelism("8");
  const auto Rows = ListFiles(40);
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, Tsa.Url());
  RunBatch();
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(40, 40, 0)});
  for (const auto& [Id, File] : Rows) {
    EXPECT_EQ(Row(Id).Status, fsOk) << InfoOf(Id);
    EXPECT_TRUE(OsslVerify(File).TimestampOk) << File;
  }
  // Only the first burst, sent before the server had said anything, may have been refused.
  EXPECT_LE(Refused, 8);
  EXPECT_EQ(Tsa.RequestCount(), 40 + Refused);
}

TEST_F(ParallelSigningBatch, ATokenIsLoggedInToOnceABatchAndAWrongPinRefusesStart) {
  // OpenSC's spy in front of the token logs the calls of every process that loads it.
  const std::string CallLog = Path("pkcs11-calls.log");
  const TScopedEnvironment Spied("PKCS11SPY", SoftToken().Module), SpyLog("PKCS11SPY_OUTPUT", CallLog);
  const auto Logins = [&CallLog] {
    const std::string Calls = ReadText(CallLog);
    std::size_t Count = 0;
    for (std::size_t At = Calls.find(": C_Login\n"); At != std::string::npos; At = Calls.find(": C_Login\n", At + 1))
      ++Count;
    return Count;
  };
  SetParallelism("8");
  const auto Rows = ListFiles(20);
  const std::vector<std::uint8_t> Unsigned = ReadBytes(Rows[0].second);
  const std::string Uri = SoftToken().EcKeyUri + "?module-path=" + Pkcs11SpyModule();
  Type(Frm->cbFile, Uri);
  EXPECT_EQ(Frm->Label2->text().toStdString(), "令牌PIN：");

  TypeSettings(Uri, "1111 2222", RejectingTimestamp);
  Frm->btnExit->setFocus();
  RunBatch();
  EXPECT_EQ(Logins(), 1u);
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{"令牌PIN不正确"});
  EXPECT_EQ(Focused(), Frm->edtPwd);
  for (const auto& [Id, File] : Rows) {
    EXPECT_EQ(Row(Id).Status, fsPending);
    EXPECT_EQ(ReadBytes(File), Unsigned);
  }

  // With the right PIN the batch logs in once for all its files, eight at a time.
  TypeSettings(Uri, SoftToken().Pin, RejectingTimestamp);
  RunBatch();
  EXPECT_EQ(Logins(), 2u);
  EXPECT_EQ(Prompts.Last().Text, Summary(20, 20, 0, 20));
  for (const auto& [Id, File] : Rows) {
    EXPECT_EQ(Row(Id).Status, fsWarning) << InfoOf(Id);
    EXPECT_TRUE(OsslVerify(File).SignatureOk) << File;
  }
  Type(Frm->cbFile, TestPki().PfxPath);
  EXPECT_EQ(Frm->Label2->text().toStdString(), "签名密码：");
}

// The signtool.exe runs of this process now under way: their command lines and environments.
struct TRunSeen {
  std::vector<std::string> Arguments;
  std::string Environment;
};
std::vector<TRunSeen> SigningRunsUnderWay() {
  std::vector<TRunSeen> Runs;
  for (const auto& Entry : std::filesystem::directory_iterator("/proc")) {
    const std::string Pid = Entry.path().filename().string();
    if (Pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::istringstream Stat(ReadText(Entry.path() / "stat"));
    std::string Field;
    // pid (comm) state ppid: the name holds no blank here.
    Stat >> Field >> Field >> Field >> Field;
    if (Field != std::to_string(::getpid())) continue;
    TRunSeen Run;
    std::istringstream CommandLine(ReadText(Entry.path() / "cmdline"));
    for (std::string Argument; std::getline(CommandLine, Argument, '\0');) Run.Arguments.push_back(Argument);
    Run.Environment = ReadText(Entry.path() / "environ");
    if (!Run.Arguments.empty() && Run.Arguments.front() == "signtool.exe") Runs.push_back(std::move(Run));
  }
  return Runs;
}

// The files under Folder written since Since that hold Secret; files that go meanwhile are passed.
std::vector<std::string> FilesHolding(const std::string& Folder, const std::string& Secret,
                                      std::filesystem::file_time_type Since) {
  namespace fs = std::filesystem;
  std::vector<std::string> Found;
  std::error_code Error;
  for (fs::recursive_directory_iterator It(Folder, fs::directory_options::skip_permission_denied, Error), End;
       !Error && It != End; It.increment(Error)) {
    std::error_code Gone;
    if (!It->is_regular_file(Gone) || It->last_write_time(Gone) < Since || Gone) continue;
    if (ReadText(It->path().string()).find(Secret) != std::string::npos) Found.push_back(It->path().string());
  }
  return Found;
}

TEST_F(SigningBatch, TheRunsCarryNoSecretAndTheSessionEndsWithTheBatch) {
  const auto Began = std::filesystem::file_time_type::clock::now();
  const TSessionFolder Sessions;
  // Slow answers keep each run alive long enough to be looked at.
  TimestampServer Tsa(TTimestampBehaviour::Answer, std::chrono::milliseconds(400));
  const std::string Password = "a secret 7341 only this test knows";
  const std::string Pfx = Path("signer.pfx");
  ASSERT_TRUE(QFile::copy(QString::fromStdString(PfxWithPassword(Password)), QString::fromStdString(Pfx)));
  std::vector<TRowId> Rows;
  for (int I = 0; I < 3; ++I) Rows.push_back(Files->Append(Program("app" + std::to_string(I) + ".exe")));
  TypeSettings(Pfx, Password, Tsa.Url());
  QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
  std::vector<TRunSeen> Seen;
  ASSERT_TRUE(WaitUntil([&] {
    Seen = SigningRunsUnderWay();
    return !Seen.empty();
  }));
  const std::vector<std::string> Sockets = Sessions.Sockets();
  ASSERT_EQ(Sockets.size(), 1u);
  for (const TRunSeen& Run : Seen) {
    EXPECT_EQ(std::find(Run.Arguments.begin(), Run.Arguments.end(), "/p"), Run.Arguments.end());
    for (const std::string& Argument : Run.Arguments) EXPECT_EQ(Argument.find("7341"), std::string::npos) << Argument;
    EXPECT_EQ(Run.Environment.find("7341"), std::string::npos);
    EXPECT_NE(Run.Environment.find(std::string(KeyAgentVariable) + "=" + Sockets.front() + '\0'), std::string::npos);
  }
  // Nor is it written anywhere a run or the session keeps its files.
  for (const std::string& Folder : {QDir::tempPath().toStdString(), std::string(std::getenv("XDG_RUNTIME_DIR"))})
    EXPECT_EQ(FilesHolding(Folder, Password, Began), std::vector<std::string>{}) << Folder;
  ASSERT_TRUE(WaitUntil([&] { return Frm->btnAddSign->isEnabled() && Frm->btnDelSign->isEnabled(); }));

  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(3, 3, 0)});
  for (const TRowId Id : Rows) EXPECT_EQ(Row(Id).Status, fsOk) << InfoOf(Id);
  EXPECT_TRUE(Sessions.Sockets().empty());
}

// The next file's run is started while the current one signs, and waits for its turn; when the
// texts change before that turn, it is dropped and the file is signed with the new ones.
TEST_F(SigningBatch, TheNextRunWaitsAheadAndIsDroppedWhenTheTextsChange) {
  TimestampServer Tsa(TTimestampBehaviour::Answer, std::chrono::milliseconds(300));
  const TRowId First = Files->Append(Program("first.exe"));
  const TRowId Second = Files->Append(Program("second.exe"));
  const TRowId Third = Files->Append(Program("third.exe"));
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, Tsa.Url(), "Before");
  auto* Batch = Frm->findChild<TSignBatch*>();
  ASSERT_NE(Batch, nullptr);
  QObject::connect(Batch, &TFileBatch::RowFinished, Frm.get(), [&](TRowId Row) {
    if (Row == First) Type(Frm->cbDescription, "After");
  });
  QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
  const auto WaitingFor = [](const std::string& File) {
    for (const TRunSeen& Run : SigningRunsUnderWay())
      if (Run.Arguments.back() == File && Run.Environment.find(std::string(AwaitTurnVariable) + "=1") != std::string::npos)
        return true;
    return false;
  };
  ASSERT_TRUE(WaitUntil([&] { return WaitingFor(Path("second.exe")); }));
  EXPECT_EQ(Row(Second).Status, fsPending);
  EXPECT_FALSE(OsslVerify(Path("second.exe")).HasSignature);
  ASSERT_TRUE(WaitUntil([&] { return Frm->btnAddSign->isEnabled() && Frm->btnDelSign->isEnabled(); }));

  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(3, 3, 0)});
  const std::vector<std::pair<TRowId, std::string>> Expected{
      {First, "first.exe"}, {Second, "second.exe"}, {Third, "third.exe"}};
  for (const auto& [Id, Name] : Expected) {
    EXPECT_EQ(Row(Id).Status, fsOk) << InfoOf(Id);
    const TOsslVerdict Verify = OsslVerify(Path(Name));
    EXPECT_TRUE(Verify.SignatureOk) << Verify.Output;
    const std::string Description = Id == First ? "Before" : "After";
    EXPECT_NE(Verify.Output.find("Text description: " + Description), std::string::npos) << Name << Verify.Output;
  }
  EXPECT_TRUE(SigningRunsUnderWay().empty());
}

TEST_F(SigningBatch, ASessionGoneMidBatchFailsTheRemainingRowsAndLeavesTheirFilesWhole) {
  const TSessionFolder Sessions;
  std::vector<std::pair<TRowId, std::string>> Rows;
  for (int I = 0; I < 3; ++I) {
    const std::string File = Program("app" + std::to_string(I) + ".exe");
    Rows.emplace_back(Files->Append(File), File);
  }
  const std::vector<std::uint8_t> Unsigned = ReadBytes(Rows[0].second);
  // Once the first file is done, and before the next begins, the session can no longer be reached.
  bool Removed = false;
  QMetaObject::Connection Hook = QObject::connect(Files, &TFileListModel::dataChanged, [&] {
    if (Removed || Row(Rows[0].first).Status == fsPending) return;
    Removed = true;
    for (const std::string& Socket : Sessions.Sockets()) std::filesystem::remove(Socket);
  });
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  RunBatch();
  QObject::disconnect(Hook);

  ASSERT_TRUE(Removed);
  EXPECT_EQ(Row(Rows[0].first).Status, fsWarning) << InfoOf(Rows[0].first);
  for (std::size_t I = 1; I < Rows.size(); ++I) {
    const auto& [Id, File] = Rows[I];
    EXPECT_EQ(Row(Id).Status, fsFailed) << I;
    EXPECT_EQ(InfoOf(Id).rfind("SignTool Error: The window's signing session has ended.", 0), 0u) << InfoOf(Id);
    EXPECT_EQ(ReadBytes(File), Unsigned) << I;
  }
  EXPECT_EQ(Prompts.Texts(), std::vector<std::string>{Summary(3, 1, 2, 1)});
}

// For the life of the object a worker asks for a 1 GiB stack, and the address-space limit leaves
// room for far less. (A smaller stack could come from the C library's cache of old ones.)
class TNoRoomForThreads {
 public:
  TNoRoomForThreads() { TSignThread::StackSize = 1u << 30; }
  ~TNoRoomForThreads() { TSignThread::StackSize = 0; }

 private:
  TAddressSpaceLimit Limit;
};

TEST_F(SigningBatch, AWorkerThatCannotBeCreatedIsReportedAndStartComesBack) {
  if (!TAddressSpaceLimit::Possible) GTEST_SKIP() << "the sanitizer's reserved address space leaves no room to limit";
  Files->Append(Program("app.exe"));
  TypeSettings(TestPki().PfxPath, TestPki().PfxPassword, RejectingTimestamp);
  {
    TNoRoomForThreads Limit;
    QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
    // The key is opened first, on a thread of the usual size; the worker is asked for after it.
    ASSERT_TRUE(WaitUntil([&] { return !Prompts.Shown().empty(); }));
  }
  ASSERT_EQ(Prompts.Shown().size(), 1u);
  EXPECT_EQ(Prompts.Last().Text, "Thread creation error: Resource temporarily unavailable.");
  EXPECT_EQ(Prompts.Last().Style, static_cast<unsigned>(mbIconError));
  EXPECT_TRUE(Frm->btnAddSign->isEnabled());
  EXPECT_TRUE(Frm->btnDelSign->isEnabled());
  // The histories were saved before the worker was asked for.
  EXPECT_NE(ReadText(ConfigPath).find("[TimeStamp]"), std::string::npos);
}
}  // namespace
