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

// A note under a page's fields: what the service needs of its account.
QLabel* Note(const QString& Text) {
  auto* Label = new QLabel(Text);
  Label->setWordWrap(true);
  return Label;
}
}  // namespace

TFrmCloudKey::TFrmCloudKey(QWidget* Parent) : QDialog(Parent) {
  setObjectName("TFrmCloudKey");
  setWindowTitle(tr("密钥服务中的密钥"));
  pcServices = new QTabWidget(this);
  pcServices->setObjectName("pcServices");
  pcServices->addTab(GooglePage(), QString::fromUtf8(CloudServiceName(TCloudService::GoogleKms).data()));
  pcServices->addTab(KeyVaultPage(), QString::fromUtf8(CloudServiceName(TCloudService::KeyVault).data()));
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
  auto* Page = new QWidget;
  auto* Form = new QFormLayout;
  edtGoogleProject = AddField(Form, tr("项目："), "edtGoogleProject", "my-project");
  edtGoogleLocation = AddField(Form, tr("位置："), "edtGoogleLocation", "global");
  edtGoogleKeyRing = AddField(Form, tr("密钥环："), "edtGoogleKeyRing", "release");
  edtGoogleKey = AddField(Form, tr("密钥："), "edtGoogleKey", "code-signing");
  edtGoogleVersion = AddField(Form, tr("密钥版本："), "edtGoogleVersion", "1");
  edtGoogleCertificate = new QLineEdit;
  edtGoogleCertificate->setObjectName("edtGoogleCertificate");
  auto* Browse = new QPushButton(tr("浏览(&B)..."));
  Browse->setObjectName("btnGoogleCertificate");
  connect(Browse, &QPushButton::clicked, this, &TFrmCloudKey::BrowseCertificate);
  auto* CertificateRow = new QHBoxLayout;
  CertificateRow->addWidget(edtGoogleCertificate);
  CertificateRow->addWidget(Browse);
  Form->addRow(tr("证书文件（PEM或DER）："), CertificateRow);
  auto* Layout = new QVBoxLayout(Page);
  Layout->addLayout(Form);
  Layout->addWidget(Note(tr("签名账户需要该密钥上的“Cloud KMS CryptoKey Signer/Verifier”角色。访问令牌可填在密码框中，"
                            "或由 GOOGLE_OAUTH_ACCESS_TOKEN 或已登录的 gcloud 提供。")));
  Layout->addStretch();
  return Page;
}

QWidget* TFrmCloudKey::KeyVaultPage() {
  auto* Page = new QWidget;
  auto* Form = new QFormLayout;
  edtVault = AddField(Form, tr("密钥保管库："), "edtVault", "contoso.vault.azure.net");
  edtVaultCertificate = AddField(Form, tr("证书名称："), "edtVaultCertificate", "release-signer");
  edtVaultVersion = AddField(Form, tr("证书版本（可不填）："), "edtVaultVersion", "");
  auto* Layout = new QVBoxLayout(Page);
  Layout->addLayout(Form);
  Layout->addWidget(Note(tr("证书及其证书链从保管库读取，签名由保管库中的密钥完成。签名账户需要“Key Vault Crypto User”和"
                            "“Key Vault Certificate User”角色。访问令牌可填在密码框中，或由 AZURE_ACCESS_TOKEN、"
                            "AZURE_TENANT_ID/AZURE_CLIENT_ID/AZURE_CLIENT_SECRET 或已登录的 az 提供。")));
  Layout->addStretch();
  return Page;
}

void TFrmCloudKey::BrowseCertificate() {
  if (const std::optional<QString> Chosen = AskOpenFileName(this, tr("证书文件 (*.pem *.crt *.cer *.der);;所有文件 (*)")))
    edtGoogleCertificate->setText(*Chosen);
}

std::optional<std::string> TFrmCloudKey::Address() const {
  TCloudKeyAddress Address;
  if (pcServices->currentIndex() == 0) {
    const std::string Parts[] = {Field(edtGoogleProject), Field(edtGoogleLocation), Field(edtGoogleKeyRing),
                                 Field(edtGoogleKey), Field(edtGoogleVersion), Field(edtGoogleCertificate)};
    for (const std::string& Part : Parts)
      if (Part.empty()) return std::nullopt;
    Address.Service = TCloudService::GoogleKms;
    Address.Path = "projects/" + Parts[0] + "/locations/" + Parts[1] + "/keyRings/" + Parts[2] + "/cryptoKeys/" + Parts[3] +
                   "/cryptoKeyVersions/" + Parts[4];
    Address.CertificateFile = Parts[5];
  } else {
    std::string Vault = Field(edtVault);
    const std::string Certificate = Field(edtVaultCertificate), Version = Field(edtVaultVersion);
    if (Vault.empty() || Certificate.empty()) return std::nullopt;
    // A vault's bare name stands for its host in Azure's public cloud.
    if (Vault.find('.') == std::string::npos && Vault.find(':') == std::string::npos) Vault += ".vault.azure.net";
    Address.Service = TCloudService::KeyVault;
    Address.Host = Vault;
    Address.Path = Version.empty() ? Certificate : Certificate + "/" + Version;
  }
  std::string Text = FormatCloudKeyAddress(Address);
  // Fields that break the address's form (a slash in a name) make none.
  if (!ParseCloudKeyAddress(Text).Address) return std::nullopt;
  return Text;
}

void TFrmCloudKey::EnableOk() { Buttons->button(QDialogButtonBox::Ok)->setEnabled(Address().has_value()); }
