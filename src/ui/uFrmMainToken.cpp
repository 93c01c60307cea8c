// Choosing a certificate on a token for the certificate box.
#include <QComboBox>

#include "ui/TFrmTokenCertificates.h"
#include "ui/uFrmMain.h"

void TFrmMain::pmiTokenCertClick() {
  TFrmTokenCertificates Picker(this);
  if (Picker.exec() != QDialog::Accepted) return;
  if (const std::optional<std::string> Uri = Picker.ChosenUri()) cbFile->setEditText(QString::fromStdString(*Uri));
}
