// Choosing a certificate on a token, or naming a key in a key service, for the certificate box.
#include <QComboBox>

#include "ui/TFrmCloudKey.h"
#include "ui/TFrmTokenCertificates.h"
#include "ui/uFrmMain.h"

void TFrmMain::pmiTokenCertClick() {
  TFrmTokenCertificates Picker(this);
  if (Picker.exec() != QDialog::Accepted) return;
  if (const std::optional<std::string> Uri = Picker.ChosenUri()) cbFile->setEditText(QString::fromStdString(*Uri));
}

void TFrmMain::pmiCloudKeyClick() {
  TFrmCloudKey Dialog(this);
  if (Dialog.exec() != QDialog::Accepted) return;
  if (const std::optional<std::string> Address = Dialog.Address()) cbFile->setEditText(QString::fromStdString(*Address));
}
