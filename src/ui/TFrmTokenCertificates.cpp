#include "ui/TFrmTokenCertificates.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {
QString Utf8(const std::string& Text) { return QString::fromStdString(Text); }

QString KeyText(TKeyPresence Presence) {
  switch (Presence) {
    case TKeyPresence::Present: return TFrmTokenCertificates::tr("有");
    case TKeyPresence::Absent: return TFrmTokenCertificates::tr("无");
    case TKeyPresence::Unknown: break;
  }
  return TFrmTokenCertificates::tr("输入PIN后可见");
}
}  // namespace

TFrmTokenCertificates::TFrmTokenCertificates(QWidget* Parent, const std::string& Module) : QDialog(Parent) {
  setObjectName("TFrmTokenCertificates");
  setWindowTitle(tr("选择令牌中的证书"));
  resize(760, 300);
  auto* Layout = new QVBoxLayout(this);

  const TTokenListing Listing = ListTokenCertificates(Module);
  FCertificates = Listing.Certificates;
  lblMessage = new QLabel(this);
  lblMessage->setObjectName("lblMessage");
  if (!Listing.ModuleLoaded)
    lblMessage->setText(tr("无法加载PKCS#11模块：%1").arg(Utf8(Module)));
  else if (FCertificates.empty())
    lblMessage->setText(tr("已连接的令牌上没有证书。请插入令牌或智能卡后重新打开。"));
  lblMessage->setVisible(!lblMessage->text().isEmpty());
  Layout->addWidget(lblMessage);

  lvCertificates = new QTreeWidget(this);
  lvCertificates->setObjectName("lvCertificates");
  lvCertificates->setRootIsDecorated(false);
  // The name a person knows the certificate by comes first.
  lvCertificates->setHeaderLabels({tr("名称"), tr("令牌"), tr("使用者"), tr("颁发者"), tr("有效期至"),
                                   tr("SHA-1 指纹"), tr("私钥")});
  for (const TTokenCertificate& Certificate : FCertificates)
    new QTreeWidgetItem(lvCertificates, {Utf8(Certificate.CommonName), Utf8(Certificate.TokenLabel),
                                         Utf8(Certificate.Subject), Utf8(Certificate.Issuer),
                                         Utf8(Certificate.NotAfter), Utf8(Certificate.Sha1),
                                         KeyText(Certificate.PrivateKey)});
  lvCertificates->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  lvCertificates->header()->setStretchLastSection(false);
  Layout->addWidget(lvCertificates);

  auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  btnOk = Buttons->button(QDialogButtonBox::Ok);
  btnOk->setText(tr("确定"));
  btnOk->setEnabled(false);
  Buttons->button(QDialogButtonBox::Cancel)->setText(tr("取消"));
  Layout->addWidget(Buttons);

  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(lvCertificates, &QTreeWidget::itemSelectionChanged, this,
          [this] { btnOk->setEnabled(!lvCertificates->selectedItems().isEmpty()); });
  connect(lvCertificates, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);

  // The only certificate there is needs no choosing.
  if (FCertificates.size() == 1) lvCertificates->setCurrentItem(lvCertificates->topLevelItem(0));
  FitColumns();
}

void TFrmTokenCertificates::FitColumns() {
  // Wide enough for every column, as far as the screen allows.
  const int Columns = lvCertificates->header()->length() + 2 * lvCertificates->frameWidth() +
                      lvCertificates->verticalScrollBar()->sizeHint().width();
  const int Margins = layout()->contentsMargins().left() + layout()->contentsMargins().right();
  int Width = std::max(width(), Columns + Margins);
  if (const QScreen* Screen = screen()) Width = std::min(Width, Screen->availableGeometry().width());
  resize(Width, height());
}

std::optional<std::string> TFrmTokenCertificates::ChosenUri() const {
  const QModelIndex Current = lvCertificates->currentIndex();
  if (!Current.isValid() || lvCertificates->selectedItems().isEmpty()) return std::nullopt;
  return UriOf(FCertificates.at(static_cast<std::size_t>(Current.row()))).ToString();
}
