#include "ui/TFrmCloudKey.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "cloud/CloudKeyAddress.h"
#include "common/TextUtil.h"
#include "ui/FileDialogs.h"

namespace {
std::string Field(const QLineEdit* Edit) { return Trim(Edit->text().toStdString()); }

QLineEdit* AddField(QFormLayout* Form, const QString& Caption, const char* Name, const QString& Example) {
  auto* Edit = new QLineEdit;
  Edit->setObjectName(Name);
  Edit->setPlaceholderText(Example);
  Form->addRow(Caption, Edit);
  return Edit;
}

// A page: the service's fields, and under them a note on what the service needs of its account.
QWidget* PageOf(QFormLayout* Form, const QString& Note) {
  auto* Page = new QWidget;
  auto* Layout = new QVBoxLayout(Page);
  Layout->addLayout(Form);
  auto* Label = new QLabel(Note);
  Label->setWordWrap(true);
  Layout->addWidget(Label);
  Layout->addStretch();
  return Page;
}
}  // namespace

TFrmCloudKey::TFrmCloudKey(QWidget* Parent) : QDialog(Parent) {
  setObjectName("TFrmCloudKey");
  setWindowTitle(tr("密钥服务中的密钥"));
  pcServices = new QTabWidget(this);
  pcServices->setObjectName("pcServices");
  AddPage(GooglePage(), TCloudService::GoogleKms);
  AddPage(KeyVaultPage(), TCloudService::KeyVault);
  AddPage(AwsPage(), TCloudService::AwsKms);
  AddPage(TrustedSigningPage(), TCloudService::TrustedSigning);
  Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* Layout = new QVBoxLayout(this);
  Layout->addWidget(pcServices);
  Layout->addWidget(Buttons);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(pcServices, &QTabWidget::currentChanged, this, &TFrmCloudKey::EnableOk);
  for (QLineEdit* Edit : findChildren<QLineEdit*>()) connect(Edit, &QLineEdit::textChanged, this, &TFrmCloudKey::EnableOk);
  EnableOk();
}

QWidget* TFrmCloudKey::GooglePage() {
  auto* Form = new QFormLayout;
  edtGoogleProject = AddField(Form, tr("项目："), "edtGoogleProject", "my-project");
  edtGoogleLocation = AddField(Form, tr("位置："), "edtGoogleLocation", "global");
  edtGoogleKeyRing = AddField(Form, tr("密钥环："), "edtGoogleKeyRing", "release");
  edtGoogleKey = AddField(Form, tr("密钥："), "edtGoogleKey", "code-signing");
  edtGoogleVersion = AddField(Form, tr("密钥版本："), "edtGoogleVersion", "1");
  edtGoogleCertificate = AddCertificateRow(Form, "GoogleCertificate");
  return PageOf(Form, tr("签名账户需要该密钥上的“Cloud KMS CryptoKey Signer/Verifier”角色。访问令牌可填在密码框中，"
                         "或由 GOOGLE_OAUTH_ACCESS_TOKEN 或已登录的 gcloud 提供。"));
}

QWidget* TFrmCloudKey::KeyVaultPage() {
  auto* Form = new QFormLayout;
  edtVault = AddField(Form, tr("密钥保管库："), "edtVault", "contoso.vault.azure.net");
  edtVaultCertificate = AddField(Form, tr("证书名称："), "edtVaultCertificate", "release-signer");
  edtVaultVersion = AddField(Form, tr("证书版本（可不填）："), "edtVaultVersion", "");
  return PageOf(Form, tr("证书及其证书链从保管库读取，签名由保管库中的密钥完成。签名账户需要“Key Vault Crypto User”和"
                         "“Key Vault Certificate User”角色。访问令牌可填在密码框中，或由 AZURE_ACCESS_TOKEN、"
                         "AZURE_TENANT_ID/AZURE_CLIENT_ID/AZURE_CLIENT_SECRET 或已登录的 az 提供。"));
}

QWidget* TFrmCloudKey::AwsPage() {
  auto* Form = new QFormLayout;
  edtAwsRegion = AddField(Form, tr("区域："), "edtAwsRegion", "eu-central-1");
  edtAwsKey = AddField(Form, tr("密钥（ID、别名或ARN）："), "edtAwsKey", "alias/release");
  edtAwsCertificate = AddCertificateRow(Form, "AwsCertificate");
  return PageOf(Form, tr("密钥用途须为“签名和验证”（SIGN_VERIFY），签名身份需要该密钥上的 kms:Sign 和 kms:GetPublicKey "
                         "权限。凭据取自 AWS_ACCESS_KEY_ID/AWS_SECRET_ACCESS_KEY（及 AWS_SESSION_TOKEN）或 "
                         "~/.aws/credentials 中的配置文件，密码框留空。"));
}

QWidget* TFrmCloudKey::TrustedSigningPage() {
  auto* Form = new QFormLayout;
  edtSigningEndpoint = AddField(Form, tr("账户终结点："), "edtSigningEndpoint", "eus.codesigning.azure.net");
  edtSigningAccount = AddField(Form, tr("账户名称："), "edtSigningAccount", "contoso");
  edtSigningProfile = AddField(Form, tr("证书配置文件："), "edtSigningProfile", "release");
  return PageOf(Form, tr("签名身份需要证书配置文件上的“Trusted Signing Certificate Profile Signer”角色。证书只有三天"
                         "有效期，因此必须填写时间戳服务器。访问令牌可填在密码框中，或由 AZURE_ACCESS_TOKEN、"
                         "AZURE_TENANT_ID/AZURE_CLIENT_ID/AZURE_CLIENT_SECRET 或已登录的 az 提供。"));
}

void TFrmCloudKey::AddPage(QWidget* Page, TCloudService Service) {
  pcServices->addTab(Page, QString::fromUtf8(CloudServiceName(Service).data()));
  PageServices.push_back(Service);
}

QLineEdit* TFrmCloudKey::AddCertificateRow(QFormLayout* Form, const QString& Name) {
  auto* Edit = new QLineEdit;
  Edit->setObjectName("edt" + Name);
  auto* Browse = new QPushButton(tr("浏览(&B)..."));
  Browse->setObjectName("btn" + Name);
  connect(Browse, &QPushButton::clicked, this, [this, Edit] {
    if (const std::optional<QString> Chosen = AskOpenFileName(this, tr("证书文件 (*.pem *.crt *.cer *.der);;所有文件 (*)")))
      Edit->setText(*Chosen);
  });
  auto* Row = new QHBoxLayout;
  Row->addWidget(Edit);
  Row->addWidget(Browse);
  Form->addRow(tr("证书文件（PEM或DER）："), Row);
  return Edit;
}

std::optional<TCloudKeyAddress> TFrmCloudKey::PageAddress() const {
  TCloudKeyAddress Address;
  Address.Service = PageServices.at(static_cast<std::size_t>(pcServices->currentIndex()));
  switch (Address.Service) {
    case TCloudService::GoogleKms: {
      const std::string Parts[] = {Field(edtGoogleProject), Field(edtGoogleLocation), Field(edtGoogleKeyRing),
                                   Field(edtGoogleKey), Field(edtGoogleVersion), Field(edtGoogleCertificate)};
      for (const std::string& Part : Parts)
        if (Part.empty()) return std::nullopt;
      Address.Path = "projects/" + Parts[0] + "/locations/" + Parts[1] + "/keyRings/" + Parts[2] + "/cryptoKeys/" +
                     Parts[3] + "/cryptoKeyVersions/" + Parts[4];
      Address.CertificateFile = Parts[5];
      break;
    }
    case TCloudService::KeyVault: {
      std::string Vault = Field(edtVault);
      const std::string Certificate = Field(edtVaultCertificate), Version = Field(edtVaultVersion);
      if (Vault.empty() || Certificate.empty()) return std::nullopt;
      // A vault's bare name stands for its host in Azure's public cloud.
      if (Vault.find('.') == std::string::npos && Vault.find(':') == std::string::npos) Vault += ".vault.azure.net";
      Address.Host = Vault;
      Address.Path = Version.empty() ? Certificate : Certificate + "/" + Version;
      break;
    }
    case TCloudService::AwsKms:
      Address.Host = Field(edtAwsRegion);
      Address.Path = Field(edtAwsKey);
      Address.CertificateFile = Field(edtAwsCertificate);
      if (Address.Host.empty() || Address.Path.empty() || Address.CertificateFile.empty()) return std::nullopt;
      break;
    case TCloudService::TrustedSigning: {
      // The endpoint as the portal shows it, "https://eus.codesigning.azure.net/", or its host.
      std::string Endpoint = Field(edtSigningEndpoint);
      if (StartsWithAscii(Endpoint, "https://")) Endpoint.erase(0, 8);
      while (Endpoint.ends_with('/')) Endpoint.pop_back();
      const std::string Account = Field(edtSigningAccount), Profile = Field(edtSigningProfile);
      if (Endpoint.empty() || Account.empty() || Profile.empty()) return std::nullopt;
      Address.Host = Endpoint;
      Address.Path = Account + "/" + Profile;
      break;
    }
  }
  return Address;
}

std::optional<std::string> TFrmCloudKey::Address() const {
  const std::optional<TCloudKeyAddress> Address = PageAddress();
  if (!Address) return std::nullopt;
  std::string Text = FormatCloudKeyAddress(*Address);
  // Fields that break the address's form (a slash in a name) make none.
  if (!ParseCloudKeyAddress(Text).Address) return std::nullopt;
  return Text;
}

void TFrmCloudKey::EnableOk() { Buttons->button(QDialogButtonBox::Ok)->setEnabled(Address().has_value()); }
