#include "ui/TFrmOptions.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "history/OptionsStore.h"
#include "ui/FileDialogs.h"

TFrmOptions::TFrmOptions(int Count, bool Rfc3161Timestamps, const QString& TrustFile, TLanguageSetting Language,
                         QWidget* Parent)
    : QDialog(Parent) {
  setObjectName("FrmOptions");
  setWindowTitle(tr("选项"));
  auto* Layout = new QVBoxLayout(this);
  auto* Fields = new QFormLayout;
  edtSignParallelism = new QSpinBox(this);
  edtSignParallelism->setObjectName("edtSignParallelism");
  edtSignParallelism->setRange(MinSignParallelism, MaxSignParallelism);
  edtSignParallelism->setValue(Count);
  Fields->addRow(tr("同时签名的文件数(&N)："), edtSignParallelism);
  cbTimestampProtocol = new QComboBox(this);
  cbTimestampProtocol->setObjectName("cbTimestampProtocol");
  cbTimestampProtocol->addItem(tr("旧式（/t）"), false);
  cbTimestampProtocol->addItem(tr("RFC 3161（/tr，SHA-256）"), true);
  cbTimestampProtocol->setCurrentIndex(Rfc3161Timestamps ? 1 : 0);
  Fields->addRow(tr("时间戳协议(&P)："), cbTimestampProtocol);
  Layout->addLayout(Fields);
  auto* Note = new QLabel(tr(
                              "每个文件都要向时间戳服务器单独请求一次。同时签名多个文件会更快，"
                              "但公共时间戳服务器可能限制请求频率；被拒绝的请求会稍候重试。"),
                          this);
  Note->setObjectName("lblRateNote");
  Note->setWordWrap(true);
  Layout->addWidget(Note);

  auto* TrustFields = new QFormLayout;
  auto* TrustRow = new QHBoxLayout;
  edtVerifyTrustFile = new QLineEdit(TrustFile, this);
  edtVerifyTrustFile->setObjectName("edtVerifyTrustFile");
  edtVerifyTrustFile->setPlaceholderText(tr("证书文件或文件夹，多个之间用“;”分隔"));
  // The hint tells how several certificates are named, so it must show whole: the box is as wide
  // as the hint plus the room the box's own size hint keeps beside its 17 average characters.
  const QFontMetrics Metrics = edtVerifyTrustFile->fontMetrics();
  edtVerifyTrustFile->setMinimumWidth(Metrics.horizontalAdvance(edtVerifyTrustFile->placeholderText()) +
                                      edtVerifyTrustFile->sizeHint().width() - 17 * Metrics.horizontalAdvance(QLatin1Char('x')));
  btnVerifyTrustFile = new QPushButton(tr("浏览(&B)..."), this);
  btnVerifyTrustFile->setObjectName("btnVerifyTrustFile");
  connect(btnVerifyTrustFile, &QPushButton::clicked, this, [this] {
    // A chosen file joins those already named.
    if (const auto Chosen = AskOpenFileName(this, tr("PEM 证书(*.pem *.crt *.cer);;所有文件(*)"))) {
      const QString Named = edtVerifyTrustFile->text().trimmed();
      edtVerifyTrustFile->setText(Named.isEmpty() ? *Chosen : Named + ';' + *Chosen);
    }
  });
  TrustRow->addWidget(edtVerifyTrustFile);
  TrustRow->addWidget(btnVerifyTrustFile);
  // A row of a layout gets no buddy of its own, which its mnemonic needs.
  auto* TrustLabel = new QLabel(tr("验证签名时另外信任的证书(&T)："), this);
  TrustLabel->setBuddy(edtVerifyTrustFile);
  TrustFields->addRow(TrustLabel, TrustRow);
  Layout->addLayout(TrustFields);

  auto* LanguageFields = new QFormLayout;
  cbLanguage = new QComboBox(this);
  cbLanguage->setObjectName("cbLanguage");
  // Each language is named in itself, so that a user who cannot read the window finds theirs.
  cbLanguage->addItem(tr("跟随系统"), static_cast<int>(TLanguageSetting::FromLocale));
  cbLanguage->addItem(QLocale(QLocale::Chinese).nativeLanguageName(), static_cast<int>(TLanguageSetting::Chinese));
  cbLanguage->addItem(QStringLiteral("English"), static_cast<int>(TLanguageSetting::English));
  cbLanguage->setCurrentIndex(cbLanguage->findData(static_cast<int>(Language)));
  LanguageFields->addRow(tr("界面语言(&L)："), cbLanguage);
  Layout->addLayout(LanguageFields);
  auto* LanguageNote = new QLabel(tr("界面语言在下次启动时生效。"), this);
  LanguageNote->setObjectName("lblLanguageNote");
  LanguageNote->setWordWrap(true);
  Layout->addWidget(LanguageNote);
  auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  Buttons->button(QDialogButtonBox::Ok)->setText(tr("确定"));
  Buttons->button(QDialogButtonBox::Cancel)->setText(tr("取消"));
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  Layout->addWidget(Buttons);
}

int TFrmOptions::SignParallelism() const { return edtSignParallelism->value(); }

bool TFrmOptions::Rfc3161Timestamps() const { return cbTimestampProtocol->currentData().toBool(); }

QString TFrmOptions::VerifyTrustFile() const { return edtVerifyTrustFile->text().trimmed(); }

TLanguageSetting TFrmOptions::Language() const {
  return static_cast<TLanguageSetting>(cbLanguage->currentData().toInt());
}
