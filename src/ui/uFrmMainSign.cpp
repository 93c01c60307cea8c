// Start: the signing batch.
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

#include "common/Pkcs11Uri.h"
#include "common/TextUtil.h"
#include "common/TokenCatalog.h"
#include "common/uPubFunc.h"
#include "history/OptionsStore.h"
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
  if (IsPkcs11Uri(CertFile)) {
    if (!IsOnPresentToken(CertFile)) {
      Refuse(tr("在已连接的令牌或智能卡上找不到该证书"), cbFile);
      return;
    }
  } else if (!QFileInfo(QString::fromStdString(CertFile)).isFile()) {
    Refuse(tr("证书文件不存在"), cbFile);
    return;
  }
  if (edtPwd->text().isEmpty()) {
    Refuse(tr("签名密码不能为空"), edtPwd);
    return;
  }
  if (Trim(Text(cbTimeStamp)).empty()) {
    Refuse(tr("时间戳不能为空"), cbTimeStamp);
    return;
  }
  SaveHistory();

  FSignBatch->SetParallelism(ReadSignParallelism(FConfigFile));
  RunBatch(FSignBatch);
}

TSignSettings TFrmMain::CurrentSignSettings() const {
  return TSignSettings{Text(cbFile), edtPwd->text().toStdString(), Text(cbTimeStamp), Text(cbDescription), Text(cbURL)};
}
