#pragma once
// Naming a key in a key service for the certificate box: a page per service whose fields make up
// the key's address (see CloudKeyAddress.h), so that no one has to know its form.
#include <QDialog>

#include <optional>
#include <string>

class QDialogButtonBox;
class QLineEdit;
class QTabWidget;

class TFrmCloudKey : public QDialog {
  Q_OBJECT

 public:
  explicit TFrmCloudKey(QWidget* Parent);

  // The address the current page's fields make, or nothing while a field it needs is empty.
  std::optional<std::string> Address() const;

  QTabWidget* pcServices;
  // Google Cloud KMS
  QLineEdit *edtGoogleProject, *edtGoogleLocation, *edtGoogleKeyRing, *edtGoogleKey, *edtGoogleVersion,
      *edtGoogleCertificate;
  // Azure Key Vault
  QLineEdit *edtVault, *edtVaultCertificate, *edtVaultVersion;
  QDialogButtonBox* Buttons;

 private:
  QWidget* GooglePage();
  QWidget* KeyVaultPage();
  void BrowseCertificate();
  void EnableOk();
};
