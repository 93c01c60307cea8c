#pragma once
// Naming a key in a key service for the certificate box: a page per service whose fields make up
// the key's address (see CloudKeyAddress.h), so that no one has to know its form.
#include <QDialog>

#include <optional>
#include <string>
#include <vector>

#include "cloud/CloudKeyAddress.h"

class QDialogButtonBox;
class QFormLayout;
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
  // AWS KMS
  QLineEdit *edtAwsRegion, *edtAwsKey, *edtAwsCertificate;
  // Azure Trusted Signing
  QLineEdit *edtSigningEndpoint, *edtSigningAccount, *edtSigningProfile;
  QDialogButtonBox* Buttons;

 private:
  QWidget* GooglePage();
  QWidget* KeyVaultPage();
  QWidget* AwsPage();
  QWidget* TrustedSigningPage();
  void AddPage(QWidget* Page, TCloudService Service);
  // A row for a certificate file with a button that picks it; Name names the edit ("edt…") and the
  // button ("btn…").
  QLineEdit* AddCertificateRow(QFormLayout* Form, const QString& Name);
  std::optional<TCloudKeyAddress> PageAddress() const;
  void EnableOk();

  std::vector<TCloudService> PageServices;  // the service of each page, in the tabs' order
};
