// The dialog that names a key in a key service: its pages make the addresses the certificate box
// takes, and the certificate button's menu leads to it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "cloud/CloudKeyAddress.h"
#include "ui/FileDialogs.h"
#include "ui/TFrmCloudKey.h"
#include "ui/uFrmMain.h"

namespace {
TEST(CloudKeyDialog, EachPageMakesAnAddressTheBoxTakes) {
  TFrmCloudKey Dialog(nullptr);
  QPushButton* Ok = Dialog.Buttons->button(QDialogButtonBox::Ok);
  EXPECT_FALSE(Ok->isEnabled());
  for (auto [Edit, Text] : {std::pair{Dialog.edtGoogleProject, "acme"}, std::pair{Dialog.edtGoogleLocation, "europe-west1"},
                            std::pair{Dialog.edtGoogleKeyRing, "release"}, std::pair{Dialog.edtGoogleKey, "code"},
                            std::pair{Dialog.edtGoogleVersion, "2"}})
    QTest::keyClicks(Edit, Text);
  EXPECT_FALSE(Ok->isEnabled());  // the certificate is still missing
  SetOpenFileHandler([](const QString&) { return std::optional<QString>("/home/me/code signing.pem"); });
  QTest::mouseClick(Dialog.findChild<QPushButton*>("btnGoogleCertificate"), Qt::LeftButton);
  SetOpenFileHandler(nullptr);
  ASSERT_TRUE(Ok->isEnabled());
  const TCloudKeyAddressParse Google = ParseCloudKeyAddress(*Dialog.Address());
  ASSERT_TRUE(Google.Address) << Google.Problem;
  EXPECT_EQ(Google.Address->Path, "projects/acme/locations/europe-west1/keyRings/release/cryptoKeys/code/cryptoKeyVersions/2");
  EXPECT_EQ(Google.Address->CertificateFile, "/home/me/code signing.pem");
  QTest::keyClicks(Dialog.edtGoogleKey, "/x");
  EXPECT_FALSE(Ok->isEnabled());  // a slash in a name breaks the form

  Dialog.pcServices->setCurrentIndex(1);
  EXPECT_FALSE(Ok->isEnabled());
  QTest::keyClicks(Dialog.edtVault, "contoso");
  QTest::keyClicks(Dialog.edtVaultCertificate, "release-signer");
  EXPECT_EQ(Dialog.Address(), "keyvault://contoso.vault.azure.net/release-signer");
  QTest::keyClicks(Dialog.edtVaultVersion, "0a1b");
  EXPECT_EQ(Dialog.Address(), "keyvault://contoso.vault.azure.net/release-signer/0a1b");

  Dialog.pcServices->setCurrentIndex(2);
  QTest::keyClicks(Dialog.edtAwsRegion, "us-east-2");
  QTest::keyClicks(Dialog.edtAwsKey, "alias/release");
  EXPECT_FALSE(Ok->isEnabled());
  SetOpenFileHandler([](const QString&) { return std::optional<QString>("/home/me/kms.pem"); });
  QTest::mouseClick(Dialog.findChild<QPushButton*>("btnAwsCertificate"), Qt::LeftButton);
  SetOpenFileHandler(nullptr);
  EXPECT_EQ(Dialog.Address(), "awskms://us-east-2/alias/release?certificate=%2Fhome%2Fme%2Fkms.pem");
  EXPECT_TRUE(Dialog.edtGoogleCertificate->text().endsWith("code signing.pem"));  // each page its own file

  Dialog.pcServices->setCurrentIndex(3);
  QTest::keyClicks(Dialog.edtSigningEndpoint, "https://weu.codesigning.azure.net/");
  QTest::keyClicks(Dialog.edtSigningAccount, "contoso");
  EXPECT_FALSE(Ok->isEnabled());
  QTest::keyClicks(Dialog.edtSigningProfile, "release");
  EXPECT_EQ(Dialog.Address(), "trustedsigning://weu.codesigning.azure.net/contoso/release");
  QTest::keyClicks(Dialog.edtSigningAccount, " two");
  EXPECT_FALSE(Ok->isEnabled());  // an account's name has no spaces
}

TEST(CloudKeyDialog, TheCertificateMenuOpensItAndFillsTheBox) {
  TFrmMain Frm;
  ASSERT_TRUE(Frm.btnSignFile->menu()->actions().contains(Frm.pmiCloudKey));
  QTimer::singleShot(0, [] {
    auto* Dialog = qobject_cast<TFrmCloudKey*>(QApplication::activeModalWidget());
    ASSERT_NE(Dialog, nullptr);
    Dialog->pcServices->setCurrentIndex(1);
    Dialog->edtVault->setText("vault.example:8443");
    Dialog->edtVaultCertificate->setText("signer");
    Dialog->Buttons->button(QDialogButtonBox::Ok)->click();
  });
  Frm.pmiCloudKey->trigger();
  EXPECT_EQ(Frm.cbFile->currentText().toStdString(), "keyvault://vault.example:8443/signer");
}
}  // namespace
