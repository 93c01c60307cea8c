// Start: the signing batch.
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <openssl/crypto.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <string_view>

#include "cloud/CloudKeyAddress.h"
#include "common/Pkcs11Uri.h"
#include "common/TextUtil.h"
#include "common/uPubFunc.h"
#include "history/OptionsStore.h"
#include "keys/TokenCatalog.h"
#include "signing/KeySession.h"
#include "signing/TSignBatch.h"
#include "ui/uFrmMain.h"

namespace {
std::string Text(const QComboBox* Box) { return Box->currentText().toStdString(); }

// Shows why Start cannot go on and leads the user to the control concerned.
void Refuse(const QString& Message, QWidget* Control) {
  ShowPrompt(Message.toStdString(), "", pkInfo);
  if (Control->isVisible() && Control->isEnabled() && Control->focusPolicy() != Qt::NoFocus) Control->setFocus();
}
// Whether a present token holds the certificate that a pkcs11: URI names.
bool IsOnPresentToken(const std::string& Text) {
  const std::optional<TPkcs11Uri> Uri = ParsePkcs11Uri(Text);
  if (!Uri) return false;
  const TTokenListing Listing = ListTokenCertificates(ModuleOf(*Uri));
  return std::any_of(Listing.Certificates.begin(), Listing.Certificates.end(),
                     [&Uri](const TTokenCertificate& Certificate) { return UriSelects(*Uri, Certificate); });
}
}  // namespace

void TFrmMain::btnAddSignClick() {
  // While a batch runs the button is Stop.
  if (FRunningBatch != nullptr) {
    StopBatch();
    return;
  }
  // First and always, so that a relative certificate path means one beside the program, for the
  // check below and for the signing tool.
  QDir::setCurrent(QCoreApplication::applicationDirPath());
  const std::string CertFile = Trim(Text(cbFile));
  if (CertFile.empty()) {
    Refuse(tr("证书文件不能为空"), cbFile);
    return;
  }
  const bool InService = IsCloudKeyAddress(CertFile);
  if (InService) {
    const TCloudKeyAddressParse Parsed = ParseCloudKeyAddress(CertFile);
    if (!Parsed.Address) {
      Refuse(tr("密钥地址的格式不对：%1").arg(QString::fromStdString(Parsed.Problem)), cbFile);
      return;
    }
  } else if (IsPkcs11Uri(CertFile)) {
    if (!IsOnPresentToken(CertFile)) {
      Refuse(tr("在已连接的令牌或智能卡上找不到该证书"), cbFile);
      return;
    }
  } else if (!QFileInfo(QString::fromStdString(CertFile)).isFile()) {
    Refuse(tr("证书文件不存在"), cbFile);
    return;
  }
  // A key service's token may come from the environment or the service's own tool instead.
  if (!InService && edtPwd->text().isEmpty()) {
    Refuse(tr("签名密码不能为空"), edtPwd);
    return;
  }
  if (Trim(Text(cbTimeStamp)).empty()) {
    Refuse(tr("时间戳不能为空"), cbTimeStamp);
    return;
  }
  SaveHistory();

  FSignBatch->SetParallelism(ReadSignParallelism(FConfigFile));
  FSignBatch->SetTimestampOptions(ReadRfc3161Timestamps(FConfigFile), ReadTimestampInterval(FConfigFile));
  OpenKeyAndSign();
}

void TFrmMain::OpenKeyAndSign() {
  QByteArray Secret = edtPwd->text().toUtf8();
  FKeyOpening = std::thread([this, Certificate = Text(cbFile), Secret = std::move(Secret)]() mutable {
    auto Opening = std::make_shared<TKeySessionOpening>();
    std::exception_ptr Failure;
    try {
      *Opening = OpenKeySession(Certificate, std::string_view(Secret.constData(), Secret.size()));
    } catch (...) {
      Failure = std::current_exception();
    }
    OPENSSL_cleanse(Secret.data(), Secret.size());
    QMetaObject::invokeMethod(
        this,
        [this, Opening, Failure] {
          FKeyOpening.join();
          if (Failure) {
            SetBatchCommandsEnabled(true);
            std::rethrow_exception(Failure);
          }
          KeySessionOpened(*Opening);
        },
        Qt::QueuedConnection);
  });
  // Only now: a thread that cannot be had leaves the window as it was.
  SetBatchCommandsEnabled(false);
}

void TFrmMain::KeySessionOpened(TKeySessionOpening& Opening) {
  if (Opening.Session && !FCloseAfterBatch) {
    FSignBatch->SetKeySession(std::move(Opening.Session));
    RunBatch(FSignBatch);
    return;
  }
  Opening.Session.reset();
  SetBatchCommandsEnabled(true);
  // The window was closed meanwhile: it goes now, without starting.
  if (FCloseAfterBatch) {
    FCloseAfterBatch = false;
    close();
    return;
  }
  Refuse(Opening.Message, Opening.Failure == TKeySessionFailure::Secret ? static_cast<QWidget*>(edtPwd) : cbFile);
}

void TFrmMain::ShowSecretCaption() {
  const std::string Certificate = Trim(Text(cbFile));
  Label2->setText(IsCloudKeyAddress(Certificate) ? tr("访问令牌：")
                  : IsPkcs11Uri(Certificate)     ? tr("令牌PIN：")
                                                 : tr("签名密码："));
}

TSignSettings TFrmMain::CurrentSignSettings() const {
  return TSignSettings{Text(cbFile), Text(cbTimeStamp), Text(cbDescription), Text(cbURL)};
}
