// Picking a certificate on a token for the certificate box, from the magnifier button's menu.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>

#include "support/PromptRecorder.h"
#include "support/SoftToken.h"
#include "support/TestPki.h"
#include "ui/TFrmTokenCertificates.h"
#include "ui/uFrmMain.h"

namespace {
QString Cell(const QTreeWidget* List, int Row, int Column) { return List->topLevelItem(Row)->text(Column); }

// Runs Answer on the picker once it is shown modally, then lets the menu command finish.
void AnswerPicker(TFrmMain& Frm, const std::function<void(TFrmTokenCertificates&)>& Answer) {
  bool Answered = false;
  QTimer::singleShot(0, [&] {
    auto* Picker = qobject_cast<TFrmTokenCertificates*>(QApplication::activeModalWidget());
    if (Picker) Answer(*Picker);
    Answered = Picker != nullptr;
    if (Picker && Picker->isVisible()) Picker->reject();
  });
  Frm.pmiTokenCert->trigger();
  EXPECT_TRUE(Answered);
}
}  // namespace

TEST(TokenPicker, ListsTheTokensCertificatesAndFillsTheBoxWithTheChosenOne) {
  const TSoftToken& Token = SoftToken();
  PromptRecorder Prompts;
  TFrmMain Frm;
  ASSERT_TRUE(Frm.btnSignFile->menu()->actions().contains(Frm.pmiTokenCert));

  AnswerPicker(Frm, [&](TFrmTokenCertificates& Picker) {
    QTreeWidget* List = Picker.lvCertificates;
    EXPECT_FALSE(Picker.lblMessage->isVisible());
    std::vector<std::string> Thumbprints;
    int EcRow = -1;
    for (int Row = 0; Row < List->topLevelItemCount(); ++Row) {
      if (Cell(List, Row, 1).toStdString() != Token.Label) continue;
      Thumbprints.push_back(Cell(List, Row, 5).toStdString());
      if (Cell(List, Row, 5).toStdString() == Token.EcSha1) EcRow = Row;
    }
    EXPECT_EQ(Thumbprints.size(), 2u);
    ASSERT_GE(EcRow, 0);
    // The common name first, then the token and the whole subject.
    EXPECT_EQ(Cell(List, EcRow, 0).toStdString(), TestPki().EcSignerCommonName);
    EXPECT_EQ(Cell(List, EcRow, 2).toStdString(), "CN=" + TestPki().EcSignerCommonName);
    EXPECT_EQ(Cell(List, EcRow, 3).toStdString(), "CN=Quillory Test Root CA");
    EXPECT_TRUE(Cell(List, EcRow, 4).startsWith("20")) << Cell(List, EcRow, 4).toStdString();
    // Without the PIN the token keeps its keys hidden: the list cannot say "none".
    EXPECT_FALSE(Cell(List, EcRow, 6).isEmpty());
    EXPECT_NE(Cell(List, EcRow, 6), QString::fromUtf8("无"));
    // Every column shows whole, unless the screen is too narrow for them.
    if (List->header()->length() > List->viewport()->width()) {
      EXPECT_GE(Picker.frameGeometry().width(), Picker.screen()->availableGeometry().width() - 1);
    }

    EXPECT_FALSE(Picker.btnOk->isEnabled());
    List->setCurrentItem(List->topLevelItem(EcRow));
    ASSERT_TRUE(Picker.btnOk->isEnabled());
    QTest::mouseClick(Picker.btnOk, Qt::LeftButton);
  });
  EXPECT_EQ(Frm.cbFile->currentText().toStdString(), Token.EcKeyUri);

  // Cancelling leaves the box as it was.
  Frm.cbFile->setEditText("kept.pfx");
  AnswerPicker(Frm, [](TFrmTokenCertificates& Picker) { Picker.lvCertificates->setCurrentItem(Picker.lvCertificates->topLevelItem(0)); });
  EXPECT_EQ(Frm.cbFile->currentText(), "kept.pfx");
  EXPECT_TRUE(Prompts.Texts().empty());
}

TEST(TokenPicker, AModuleThatCannotBeLoadedIsSaidInsteadOfAList) {
  SoftToken();
  TFrmTokenCertificates Picker(nullptr, "/nonexistent/pkcs11-module.so");
  EXPECT_EQ(Picker.lvCertificates->topLevelItemCount(), 0);
  EXPECT_TRUE(Picker.lblMessage->text().contains("/nonexistent/pkcs11-module.so"));
  EXPECT_EQ(Picker.ChosenUri(), std::nullopt);
}
