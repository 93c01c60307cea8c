#pragma once
// Choosing a certificate on a PKCS#11 token (smart card, USB key, HSM) for the certificate box:
// every certificate on every present token, read without a PIN.
#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "keys/TokenCatalog.h"

class QLabel;
class QPushButton;
class QTreeWidget;

class TFrmTokenCertificates : public QDialog {
  Q_OBJECT

 public:
  // Lists the certificates that Module reaches (every registered module by default).
  explicit TFrmTokenCertificates(QWidget* Parent, const std::string& Module = DefaultPkcs11Module());

  // The URI that names the selected certificate, or nothing without a selection.
  std::optional<std::string> ChosenUri() const;

  QLabel* lblMessage;  // says when no token holds a certificate
  QTreeWidget* lvCertificates;
  QPushButton* btnOk;

 private:
  void FitColumns();

  std::vector<TTokenCertificate> FCertificates;  // in the list's order
};
