// Keys in key services through the main window: the address typed in the certificate box, Start,
// and the batch's runs signing through the window's one opening of the key.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <fstream>

#include "cloud/GoogleKmsKey.h"
#include "common/TextUtil.h"
#include "support/AwsKmsService.h"
#include "support/CabFixtures.h"
#include "support/EntraTokenService.h"
#include "support/GoogleKmsService.h"
#include "support/KeyVaultService.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/PromptRecorder.h"
#include "support/ScopedEnvironment.h"
#include "support/TestPki.h"
#include "support/TrustedSigningService.h"
#include "ui/TFileListView.h"
#include "ui/uFrmMain.h"

namespace {
constexpr const char* Token = "ya29.window-token";

class WindowCloudKey : public ::testing::Test {
 protected:
  void SetUp() override {
    Frm->FConfigFile = Path("config.ini");
    Frm->LoadHistory();
    Frm->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frm.get()));
  }
  void TearDown() override { QDir::setCurrent(PreviousDir); }

  std::string Path(const std::string& Name) const { return QDir(Folder.path()).filePath(QString::fromStdString(Name)).toStdString(); }
  TRowId Add(const std::string& Name, std::vector<std::uint8_t> Bytes) {
    WriteBytes(Path(Name), Bytes);
    return Frm->vstFiles->Files()->Append(Path(Name));
  }
  const TFileItem& Row(TRowId Id) const { return *Frm->vstFiles->Files()->Item(Id); }

  // Types the address and the token, clicks Start and waits for the buttons to come back.
  void Start(const std::string& Address, const std::string& Secret) {
    Frm->cbFile->lineEdit()->setText(QString::fromStdString(Address));
    Frm->edtPwd->setText(QString::fromStdString(Secret));
    Frm->cbTimeStamp->lineEdit()->setText(QString::fromStdString(Unused));
    Frm->btnExit->setFocus();
    QTest::mouseClick(Frm->btnAddSign, Qt::LeftButton);
    QDeadlineTimer Deadline(120000);
    while (!(Frm->btnAddSign->isEnabled() && Frm->btnDelSign->isEnabled()) && !Deadline.hasExpired()) QTest::qWait(5);
  }

  QTemporaryDir Folder, Sessions;  // the key session's socket goes in the second
  TScopedEnvironment SessionFolder{"XDG_RUNTIME_DIR", Sessions.path().toStdString()};
  QString PreviousDir = QDir::currentPath();
  // A timestamp server that nobody answers at: files end signed with a warning.
  const std::string Unused = "http://127.0.0.1:9/";
  // The service refuses what Refusal answers for (the signatures when it is set).
  std::optional<THttpResponse> Refusal;
  GoogleKmsService Service{TestPki().SignerKeyPath, "RSA_SIGN_PKCS1_2048_SHA256", Token, [this](const THttpRequest& Request) {
                             return Request.Method == "POST" ? Refusal : std::nullopt;
                           }};
  TScopedEnvironment Endpoint{GoogleKmsEndpointVariable, Service.Endpoint()};
  PromptRecorder Prompts;
  std::unique_ptr<TFrmMain> Frm = std::make_unique<TFrmMain>();
};

TEST_F(WindowCloudKey, ABatchReadsTheKeyOnceAndSignsEveryFile) {
  std::vector<TRowId> Rows;
  for (int Index = 0; Index < 4; ++Index) Rows.push_back(Add("app" + std::to_string(Index) + ".exe", BuildPe({TPeKind::Exe32, 0, false})));
  Rows.push_back(Add("setup.cab", BuildCab("setup.inf", "[Version]")));
  const std::string Address = Service.Address(TestPki().SignerCertPath);
  EXPECT_EQ(Frm->Label2->text().toStdString(), "签名密码：");

  Start(Address, Token);
  EXPECT_EQ(Frm->Label2->text().toStdString(), "访问令牌：");
  for (const TRowId Id : Rows) {
    EXPECT_EQ(Row(Id).Status, fsWarning) << ToString(Row(Id).Info);
    EXPECT_TRUE(OsslVerify(ToString(Row(Id).FileName)).SignatureOk) << ToString(Row(Id).FileName);
  }
  EXPECT_EQ(Service.PublicKeyReads(), 1);
  EXPECT_EQ(Service.Signatures(), 5);
  // The address is remembered like a path; the token nowhere.
  std::ifstream Config(Path("config.ini"));
  const std::string Saved{std::istreambuf_iterator<char>(Config), {}};
  EXPECT_NE(Saved.find("1=" + Address), std::string::npos) << Saved;
  EXPECT_EQ(Saved.find(Token), std::string::npos);
}

TEST_F(WindowCloudKey, StartIsRefusedAtTheBoxConcerned) {
  const TRowId Id = Add("app.exe", BuildPe({TPeKind::Exe32, 0, false}));
  const std::vector<std::uint8_t> Unsigned = ReadBytes(ToString(Row(Id).FileName));
  const TScopedEnvironment PathWithoutTools("PATH", "/nonexistent");
  struct TCase {
    std::string Address, Secret, Message;
    QWidget* Focus;
  };
  const std::vector<TCase> Cases{
      {Service.Address(TestPki().SignerCertPath), "ya29.expired", "Google Cloud KMS不接受访问令牌或凭据（401）", Frm->edtPwd},
      {Service.Address(TestPki().SignerCertPath), "", "找不到Google Cloud KMS的凭据", Frm->cbFile},
      {Service.Address(), Token, "Google Cloud KMS的密钥与证书不符或证书无法读取", Frm->cbFile},
      {"gcpkms://projects/quillory/keyRings/release", Token, "密钥地址的格式不对", Frm->cbFile},
  };
  for (const TCase& Case : Cases) {
    const std::size_t Before = Prompts.Shown().size();
    Start(Case.Address, Case.Secret);
    ASSERT_EQ(Prompts.Shown().size(), Before + 1) << Case.Address;
    EXPECT_EQ(Prompts.Last().Text.rfind(Case.Message, 0), 0u) << Prompts.Last().Text;
    QWidget* Focused = Frm->focusWidget();
    if (Focused != nullptr && qobject_cast<QComboBox*>(Focused->parentWidget())) Focused = Focused->parentWidget();
    EXPECT_EQ(Focused, Case.Focus) << Case.Message;
    EXPECT_EQ(Row(Id).Status, fsPending);
    EXPECT_EQ(ReadBytes(ToString(Row(Id).FileName)), Unsigned);
  }
  EXPECT_EQ(Service.Signatures(), 0);
}

TEST_F(WindowCloudKey, ASignatureRefusedFailsTheRowInWordsAndLeavesItsFile) {
  const TRowId Id = Add("app.exe", BuildPe({TPeKind::Exe32, 0, false}));
  const std::vector<std::uint8_t> Unsigned = ReadBytes(ToString(Row(Id).FileName));
  Refusal = GoogleError(403, "PERMISSION_DENIED", "Permission 'cloudkms.cryptoKeyVersions.useToSign' denied");
  Start(Service.Address(TestPki().SignerCertPath), Token);
  EXPECT_EQ(Row(Id).Status, fsFailed);
  EXPECT_NE(ToString(Row(Id).Info).find("Google Cloud KMS refused access to the key (403)"), std::string::npos)
      << ToString(Row(Id).Info);
  EXPECT_EQ(ReadBytes(ToString(Row(Id).FileName)), Unsigned);
}
// The yardstick: a batch of 50 files authenticates once and reads the chain once.
TEST_F(WindowCloudKey, FiftyFilesFromKeyVaultWithOneTokenAndOneChain) {
  const std::string VaultToken = "eyJ0eXAiOiJKV1QifQ.batch";
  KeyVaultService Vault(TestPki().SignerCertPath, TestPki().SignerKeyPath, TestPki().CaCertPath, VaultToken);
  EntraTokenService Entra("tenant-1", "client-1", "client secret", "https://vault.azure.net/.default", VaultToken);
  const TScopedEnvironment Authority("AZURE_AUTHORITY_HOST", Entra.Authority());
  const TScopedEnvironment Tenant("AZURE_TENANT_ID", "tenant-1");
  const TScopedEnvironment Client("AZURE_CLIENT_ID", "client-1");
  const TScopedEnvironment Secret("AZURE_CLIENT_SECRET", "client secret");
  std::vector<TRowId> Rows;
  for (int Index = 0; Index < 49; ++Index) Rows.push_back(Add("tool" + std::to_string(Index) + ".exe", BuildPe({TPeKind::Exe64, 0, false})));
  Rows.push_back(Add("data.cab", BuildCab("data.txt", "fifty")));

  Start(Vault.Address(), "");
  EXPECT_EQ(Entra.Grants(), 1);
  EXPECT_EQ(Vault.CertificateReads(), 1);
  EXPECT_EQ(Vault.SecretReads(), 1);
  EXPECT_EQ(Vault.Signatures(), 50);
  for (const TRowId Id : Rows) {
    EXPECT_EQ(Row(Id).Status, fsWarning) << ToString(Row(Id).Info);
    EXPECT_TRUE(OsslVerify(ToString(Row(Id).FileName)).SignatureOk) << ToString(Row(Id).FileName);
  }
}

TEST_F(WindowCloudKey, FiftyFilesFromTrustedSigningWithOneTokenAndOneChain) {
  TrustedSigningService Signing;
  const TTrustedSigningCredentials Credentials(Signing);
  std::vector<TRowId> Rows;
  for (int Index = 0; Index < 49; ++Index) Rows.push_back(Add("tool" + std::to_string(Index) + ".dll", BuildPe({TPeKind::Dll32, 0, false})));
  Rows.push_back(Add("data.cab", BuildCab("data.txt", "fifty")));

  Start(Signing.Address(), "");
  EXPECT_EQ(Signing.Authentications(), 1);
  EXPECT_EQ(Signing.ChainFetches(), 1);
  EXPECT_EQ(Signing.SignCount(), 50);
  for (const TRowId Id : Rows) {
    EXPECT_EQ(Row(Id).Status, fsWarning) << ToString(Row(Id).Info);
    EXPECT_TRUE(OsslVerify(ToString(Row(Id).FileName)).SignatureOk) << ToString(Row(Id).FileName);
  }
}

TEST_F(WindowCloudKey, AwsKmsWithTheCredentialsOfTheEnvironmentAndItsRefusalAtStart) {
  AwsKmsService Kms;
  const TScopedEnvironment KmsEndpoint("AWS_ENDPOINT_URL_KMS", Kms.Endpoint());
  const TScopedEnvironment Credentials("AWS_SHARED_CREDENTIALS_FILE", Path("no credentials"));
  const TScopedEnvironment KeyId("AWS_ACCESS_KEY_ID", AwsKmsService::AccessKeyId);
  const TRowId Id = Add("app.exe", BuildPe({TPeKind::Exe64, 0, false}));
  const std::string Address = std::string("awskms://") + AwsKmsService::Region + "/" + AwsKmsService::Alias +
                              "?certificate=" + PercentEncode(TestPki().SignerCertPath);
  {
    const TScopedEnvironment Wrong("AWS_SECRET_ACCESS_KEY", "not the secret");
    Start(Address, "");
    EXPECT_EQ(Prompts.Last().Text.rfind("AWS KMS不接受", 0), 0u) << Prompts.Last().Text;
    EXPECT_EQ(Row(Id).Status, fsPending);
  }
  const TScopedEnvironment Right("AWS_SECRET_ACCESS_KEY", AwsKmsService::SecretAccessKey);
  Start(Address, "");
  EXPECT_EQ(Row(Id).Status, fsWarning) << ToString(Row(Id).Info);
  EXPECT_TRUE(OsslVerify(ToString(Row(Id).FileName)).SignatureOk);
  EXPECT_EQ(Kms.Refusals().size(), 1u);  // the wrong secret's only
  EXPECT_EQ(Kms.PublicKeyCount(), 1);
  EXPECT_EQ(Kms.SignCount(), 1);
}
}  // namespace
