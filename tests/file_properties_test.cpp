#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <chrono>
#include <fstream>

#include <sys/stat.h>

#include "authenticode/AuthenticodeInfo.h"
#include "authenticode/VerifySignature.h"
#include "common/FileReader.h"
#include "common/PeHeaders.h"
#include "authenticode/SignatureCheck.h"
#include "common/uPubFunc.h"
#include "support/CabFixtures.h"
#include "support/ManySignatures.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"
#include "ui/ConfigFile.h"
#include "ui/TFrmFileProperties.h"

namespace {
std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The certificate's serial as `openssl x509 -serial` prints it ("serial=0A1B..."), lower-cased
// and split into blank-separated bytes.
std::string SerialByOpenssl(const std::string& CertPath) {
  const TProcessResult Result = RunProcess("openssl", {"x509", "-noout", "-serial", "-in", CertPath});
  std::string Hex = Result.Out.substr(Result.Out.find('=') + 1);
  while (!Hex.empty() && (Hex.back() == '\n' || Hex.back() == '\r')) Hex.pop_back();
  std::string Spaced;
  for (std::size_t I = 0; I < Hex.size(); I += 2) {
    if (!Spaced.empty()) Spaced += ' ';
    Spaced += static_cast<char>(std::tolower(static_cast<unsigned char>(Hex[I])));
    Spaced += static_cast<char>(std::tolower(static_cast<unsigned char>(Hex[I + 1])));
  }
  return Spaced;
}

std::string SubjectCommonName(const std::string& CertPath) {
  const TProcessResult Result =
      RunProcess("openssl", {"x509", "-noout", "-subject", "-nameopt", "multiline", "-in", CertPath});
  const std::string Key = "commonName                = ";
  const std::size_t At = Result.Out.find(Key);
  if (At == std::string::npos) return {};
  const std::size_t Start = At + Key.size();
  return Result.Out.substr(Start, Result.Out.find('\n', Start) - Start);
}

// The signatures the properties window reads from a file.
TAuthenticodeInfo InfoOf(const std::string& Path, std::size_t MaxSignatures = MaxReadSignatures) {
  TFileReader Reader;
  if (!Reader.Open(Path)) return {};
  const std::optional<TSignedContainer> Located = LocateSignature(Reader.Descriptor(), Reader.Size());
  return Located ? ReadAuthenticodeInfo(*Located, MaxSignatures) : TAuthenticodeInfo{};
}

class FileProperties : public ::testing::Test {
 protected:
  void TearDown() override {
    for (QWidget* Window : QApplication::topLevelWidgets())
      if (qobject_cast<TFrmFileProperties*>(Window)) delete Window;
  }

  std::string PathOf(const char* Name) const { return Folder.filePath(Name).toStdString(); }

  std::string Program(const char* Name, TPeKind Kind = TPeKind::Exe32) {
    const std::string Path = PathOf(Name);
    WriteBytes(Path, BuildPe({.Kind = Kind}));
    return Path;
  }

  std::string Signed(const char* Name, const std::vector<std::string>& Extra = {}, TPeKind Kind = TPeKind::Exe32) {
    const std::string Path = Program(Name, Kind);
    EXPECT_TRUE(OsslSign(Path, Path, Extra));
    return Path;
  }

  static TFrmFileProperties* Open(const std::string& Path) {
    ShowFileProperties(Path);
    TFrmFileProperties* Window = TFrmFileProperties::Find(QString::fromStdString(Path));
    EXPECT_NE(Window, nullptr);
    return Window;
  }

  QTemporaryDir Folder;
};
}  // namespace

TEST_F(FileProperties, ReadsSignerDigestIssuerSerialAndValidity) {
  const std::string Path = Signed("app.exe", {"-h", "sha384"});
  const TAuthenticodeInfo Info = InfoOf(Path);
  EXPECT_TRUE(Info.HasCertificateTable);
  ASSERT_EQ(Info.Signatures.size(), 1u);
  const TSignatureInfo& Signature = Info.Signatures[0];
  EXPECT_EQ(Signature.Signer, TestPki().SignerCommonName);
  EXPECT_EQ(Signature.DigestAlgorithm, "sha384");
  EXPECT_EQ(Signature.Issuer, SubjectCommonName(TestPki().CaCertPath));
  EXPECT_EQ(Signature.SerialNumber, SerialByOpenssl(TestPki().SignerCertPath));
  ASSERT_TRUE(Signature.ValidFrom && Signature.ValidTo);
  EXPECT_LE(*Signature.ValidFrom, Now());
  EXPECT_GT(*Signature.ValidTo, Now());
  EXPECT_EQ(Signature.TimestampTime, std::nullopt);
}

TEST_F(FileProperties, NestedSignaturesAreListedAfterThePrimaryOne) {
  const std::string Path = Signed("app.dll", {"-h", "sha256"}, TPeKind::Dll64);
  ASSERT_TRUE(OsslSign(Path, Path, {"-nest", "-h", "sha512"}));
  const TAuthenticodeInfo Info = InfoOf(Path);
  ASSERT_EQ(Info.Signatures.size(), 2u);
  EXPECT_EQ(Info.Signatures[0].DigestAlgorithm, "sha256");
  EXPECT_EQ(Info.Signatures[0].NestingLevel, 0);
  EXPECT_EQ(Info.Signatures[1].DigestAlgorithm, "sha512");
  EXPECT_EQ(Info.Signatures[1].NestingLevel, 1);
  EXPECT_EQ(Info.Signatures[1].Signer, TestPki().SignerCommonName);
}

TEST_F(FileProperties, SignaturesBeyondTheFirst64AreCountedExactly) {
  const std::string Path = PathOf("crowded.exe");
  WriteBytes(Path, WithManySignatures(ReadBytes(Signed("many.exe")), 155));
  const TAuthenticodeInfo All = InfoOf(Path, 1000);
  ASSERT_EQ(All.Signatures.size(), 156u);
  EXPECT_EQ(All.MoreSignatures, 0u);
  EXPECT_EQ(All.Signatures[0].NestingLevel, 0);
  EXPECT_EQ(All.Signatures[155].NestingLevel, 1);
  for (const std::size_t Limit : {std::size_t{0}, std::size_t{1}, std::size_t{64}, std::size_t{151}, std::size_t{155}}) {
    const TAuthenticodeInfo Some = InfoOf(Path, Limit);
    EXPECT_EQ(Some.Signatures.size(), Limit);
    EXPECT_EQ(Some.Signatures.size() + Some.MoreSignatures, All.Signatures.size()) << Limit;
  }
}

TEST_F(FileProperties, AFileWithTwentyThousandSignaturesListsTheFirstOnesAndCountsTheRest) {
  const std::string Path = PathOf("crowded.exe");
  WriteBytes(Path, WithManySignatures(ReadBytes(Signed("plain.exe")), 20'000));
  TFrmFileProperties* Window = Open(Path);
  ASSERT_NE(Window, nullptr);
  ASSERT_NE(Window->lvSignatures, nullptr);
  EXPECT_EQ(Window->lvSignatures->topLevelItemCount(), static_cast<int>(MaxReadSignatures));
  ASSERT_NE(Window->lblMoreSignatures, nullptr);
  EXPECT_TRUE(Window->lblMoreSignatures->text().contains(QString::number(20'001 - MaxReadSignatures)))
      << Window->lblMoreSignatures->text().toStdString();
  // Verification checks only the first nested signatures too, and counts the others.
  ASSERT_NE(Window->lblVerdict, nullptr);
  EXPECT_TRUE(Window->lblVerdict->text().contains(QString::number(20'000 - MaxCheckedNestedSignatures)))
      << Window->lblVerdict->text().toStdString();
}

TEST_F(FileProperties, TimestampTimeFromEitherKindOfTimestamp) {
  TimestampServer Tsa;
  const std::int64_t Before = Now();
  for (const char* Option : {"-t", "-ts"}) {
    const std::string Path = Signed(Option[2] ? "rfc3161.exe" : "authenticode.exe", {Option, Tsa.Url()});
    const TAuthenticodeInfo Info = InfoOf(Path);
    ASSERT_EQ(Info.Signatures.size(), 1u) << Option;
    const auto Time = Info.Signatures[0].TimestampTime;
    ASSERT_TRUE(Time.has_value()) << Option;
    // The server stamps with this machine's clock, at whole seconds.
    EXPECT_GE(*Time, Before - 1) << Option;
    EXPECT_LE(*Time, Now() + 1) << Option;
  }
}

TEST_F(FileProperties, DamagedOrMissingTableGivesNoSignatures) {
  EXPECT_FALSE(InfoOf(Program("plain.exe")).HasCertificateTable);
  WriteBytes(PathOf("mz.exe"), std::vector<std::uint8_t>{'M', 'Z'});
  EXPECT_FALSE(InfoOf(PathOf("mz.exe")).HasCertificateTable);

  const std::string Path = Signed("signed.exe");
  auto Bytes = ReadBytes(Path);
  const TAuthenticodeInfo Intact = InfoOf(Path);
  ASSERT_EQ(Intact.Signatures.size(), 1u);
  // Spoil the first byte of the PKCS#7 data, right after the table's 8-byte entry header.
  const auto Headers = std::get<TPeHeaders>(ReadPeHeaders(Bytes));
  ASSERT_EQ(Bytes[Headers.CertOffset + 8], 0x30);
  Bytes[Headers.CertOffset + 8] = 0x31;
  WriteBytes(Path, Bytes);
  const TAuthenticodeInfo Spoiled = InfoOf(Path);
  EXPECT_TRUE(Spoiled.HasCertificateTable);
  EXPECT_TRUE(Spoiled.Signatures.empty());

  Bytes.resize(Bytes.size() - 16);  // the table now reaches past the end: damaged, not absent
  WriteBytes(Path, Bytes);
  const TAuthenticodeInfo Cut = InfoOf(Path);
  EXPECT_TRUE(Cut.HasCertificateTable);
  EXPECT_TRUE(Cut.Signatures.empty());
}

TEST_F(FileProperties, WindowShowsTheSignatures) {
  const std::string Path = Signed("签名.exe", {"-h", "sha256"});
  TFrmFileProperties* Window = Open(Path);
  ASSERT_NE(Window, nullptr);
  EXPECT_TRUE(Window->isVisible());
  EXPECT_EQ(Window->windowTitle(), "签名.exe 属性");
  ASSERT_NE(Window->Tabs, nullptr);
  ASSERT_EQ(Window->Tabs->count(), 2);
  EXPECT_EQ(Window->Tabs->tabText(0), "常规");
  EXPECT_EQ(Window->Tabs->tabText(1), "数字签名");

  ASSERT_NE(Window->lvSignatures, nullptr);
  ASSERT_EQ(Window->lvSignatures->topLevelItemCount(), 1);
  const QString Signer = QString::fromStdString(TestPki().SignerCommonName);
  EXPECT_EQ(Window->lvSignatures->topLevelItem(0)->text(0), Signer);
  EXPECT_EQ(Window->lvSignatures->topLevelItem(0)->text(1), "sha256");
  EXPECT_EQ(Window->lblSigner->text(), Signer);
  EXPECT_EQ(Window->lblDigest->text(), "sha256");
  EXPECT_EQ(Window->lblTimestamp->text(), "不可用");
  EXPECT_FALSE(Window->lblSerial->text().isEmpty());
}

TEST_F(FileProperties, SignaturesTabShowsTheVerdictAndReadsCabinets) {
  WriteBytes(PathOf("setup.cab"), BuildCab("setup.inf", "[Version]\n"));
  const std::string Cab = PathOf("signed.cab");
  ASSERT_TRUE(OsslSign(PathOf("setup.cab"), Cab, {"-h", "sha256"}));
  const std::string Trust = ConfiguredVerifyTrustFile(ConfigFilePath());
  for (const std::string& Path : {Cab, Signed("app.exe")}) {
    TFrmFileProperties* Window = Open(Path);
    ASSERT_NE(Window->lvSignatures, nullptr) << Path;
    EXPECT_EQ(Window->lvSignatures->topLevelItem(0)->text(0), QString::fromStdString(TestPki().SignerCommonName));
    ASSERT_NE(Window->lblVerdict, nullptr);
    EXPECT_TRUE(Window->lblVerdict->text().endsWith(QString::fromStdString(VerifySignature(Path, Trust).Message)))
        << Window->lblVerdict->text().toStdString();
  }
  EXPECT_EQ(TFrmFileProperties::Find(QString::fromStdString(Cab))->lblKind->text(), "CAB 压缩文件");

  auto Bytes = ReadBytes(Cab);
  Bytes.resize(Bytes.size() - 16);
  WriteBytes(PathOf("cut.cab"), Bytes);
  TFrmFileProperties* Cut = Open(PathOf("cut.cab"));
  EXPECT_EQ(Cut->lblMessage->text(), "此文件的数字签名已损坏，无法读取。");
  ASSERT_NE(Cut->lblVerdict, nullptr);
}

TEST_F(FileProperties, SelectingANestedSignatureShowsItsDetails) {
  const std::string Path = Signed("app.exe", {"-h", "sha256"});
  ASSERT_TRUE(OsslSign(Path, Path, {"-nest", "-h", "sha1"}));
  TFrmFileProperties* Window = Open(Path);
  ASSERT_NE(Window->lvSignatures, nullptr);
  ASSERT_EQ(Window->lvSignatures->topLevelItemCount(), 2);
  EXPECT_EQ(Window->lblDigest->text(), "sha256");
  Window->lvSignatures->setCurrentItem(Window->lvSignatures->topLevelItem(1));
  EXPECT_EQ(Window->lblDigest->text(), "sha1");
}

TEST_F(FileProperties, GeneralTabTellsProgramKinds) {
  const std::string Text = PathOf("readme.txt");
  std::ofstream(Text) << "hello\n";
  const std::pair<std::string, const char*> Cases[] = {
      {Program("a32.exe"), "32 位程序"}, {Program("a64.dll", TPeKind::Dll64), "64 位程序"}, {Text, "不是程序"}};
  for (const auto& [Path, Kind] : Cases) {
    TFrmFileProperties* Window = Open(Path);
    ASSERT_NE(Window, nullptr);
    EXPECT_EQ(Window->lblKind->text(), QString::fromUtf8(Kind)) << Path;
    EXPECT_EQ(Window->lblFolder->text(), Folder.path());
  }
  TFrmFileProperties* TextWindow = TFrmFileProperties::Find(QString::fromStdString(Text));
  EXPECT_EQ(TextWindow->lblName->text(), "readme.txt");
  EXPECT_EQ(TextWindow->lblSize->text(), "6 字节");
}

TEST_F(FileProperties, FoldersAndPipesAreNotOpened) {
  const std::string Pipe = PathOf("pipe.exe");
  ASSERT_EQ(::mkfifo(Pipe.c_str(), 0600), 0);
  TFrmFileProperties* PipeWindow = Open(Pipe);  // opening the pipe for reading would wait for a writer
  EXPECT_EQ(PipeWindow->lblKind->text(), "不是程序");
  EXPECT_EQ(PipeWindow->lblMessage->text(), "此文件没有数字签名。");

  ASSERT_TRUE(QDir(Folder.path()).mkdir("tools.dll"));
  TFrmFileProperties* FolderWindow = Open(PathOf("tools.dll"));
  EXPECT_EQ(FolderWindow->lblKind->text(), "文件夹");
  EXPECT_EQ(FolderWindow->lblMessage->text(), "此文件没有数字签名。");
}

TEST_F(FileProperties, UnsignedFileSaysSo) {
  TFrmFileProperties* Window = Open(Program("plain.exe"));
  ASSERT_NE(Window->Tabs, nullptr);
  EXPECT_EQ(Window->lvSignatures, nullptr);
  ASSERT_NE(Window->lblMessage, nullptr);
  EXPECT_EQ(Window->lblMessage->text(), "此文件没有数字签名。");
}

TEST_F(FileProperties, MissingFileSaysItCannotBeFound) {
  const std::string Path = PathOf("gone.exe");
  TFrmFileProperties* Window = Open(Path);
  EXPECT_EQ(Window->Tabs, nullptr);
  ASSERT_NE(Window->lblMessage, nullptr);
  EXPECT_TRUE(Window->lblMessage->text().startsWith("找不到文件“" + QString::fromStdString(Path) + "”"));
}

TEST_F(FileProperties, OneModelessWindowPerFile) {
  const std::string First = Program("first.exe");
  TFrmFileProperties* Window = Open(First);
  ASSERT_NE(Window, nullptr);
  EXPECT_FALSE(Window->isModal());
  EXPECT_FALSE(Window->testAttribute(Qt::WA_QuitOnClose));
  EXPECT_EQ(Open(Folder.path().toStdString() + "/./first.exe"), Window);
  TFrmFileProperties* Second = Open(Program("second.exe"));
  EXPECT_NE(Second, Window);

  Window->close();  // deletes itself
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(TFrmFileProperties::Find(QString::fromStdString(First)), nullptr);
  EXPECT_NE(Open(First), nullptr);
}
