#include "ui/TFrmFileProperties.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <vector>
#include <variant>

#include "common/FileReader.h"
#include "common/PeHeaders.h"
#include "authenticode/SignedContainer.h"
#include "authenticode/VerifySignature.h"
#include "filelist/TranslatedText.h"
#include "ui/ConfigFile.h"

namespace {
QHash<QString, TFrmFileProperties*>& OpenWindows() {
  static QHash<QString, TFrmFileProperties*> Windows;
  return Windows;
}

QString Text(const char* Source) { return QCoreApplication::translate("TFrmFileProperties", Source); }
QString Utf8(const std::string& Text) { return QString::fromStdString(Text); }

QString TimeText(const std::optional<std::int64_t>& Seconds) {
  if (!Seconds) return Text(QT_TRANSLATE_NOOP("TFrmFileProperties", "不可用"));
  return QDateTime::fromSecsSinceEpoch(*Seconds).toLocalTime().toString(Text(QT_TRANSLATE_NOOP("TFrmFileProperties", "yyyy年M月d日 HH:mm:ss")));
}

QLabel* ValueLabel(QWidget* Parent, const QString& Text = {}) {
  auto* Result = new QLabel(Text, Parent);
  Result->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Result->setWordWrap(true);
  return Result;
}

// What the window shows of a regular file's bytes: its PE headers and certificate table, or a
// cabinet's signature, read by position. Anything else (a folder, a named pipe, a device) has no
// bytes to show and is not opened.
class TProgramBytes {
 public:
  explicit TProgramBytes(const QFileInfo& Info) {
    if (!Info.isFile()) return;
    TFileReader Reader;
    Unreadable = !Reader.Open(QFile::encodeName(Info.filePath()).toStdString());
    if (Unreadable) return;
    std::optional<std::vector<std::uint8_t>> Head = ReadPeHeaderBytes(Reader.Descriptor(), Reader.Size());
    Unreadable = !Head;
    if (Unreadable) return;
    Headers = ReadPeHeaders(*Head);
    const std::optional<TSignedContainer> Located = LocateSignature(Reader.Descriptor(), Reader.Size());
    IsCabinet = Located && Located->Kind == TContainerKind::Cab;
    if (Located) Signatures = ReadAuthenticodeInfo(*Located);
  }
  bool IsUnreadable() const { return Unreadable; }
  const TPeHeaders* Program() const { return std::get_if<TPeHeaders>(&Headers); }
  bool IsCab() const { return IsCabinet; }
  const TAuthenticodeInfo& Authenticode() const { return Signatures; }

 private:
  bool Unreadable = false;
  std::variant<TPeHeaders, TPeFormatError> Headers = TPeFormatError::NotMz;
  bool IsCabinet = false;
  TAuthenticodeInfo Signatures;
};

QString KindText(const QFileInfo& Info, const TProgramBytes& Bytes) {
  if (Info.isDir()) return Text(QT_TRANSLATE_NOOP("TFrmFileProperties", "文件夹"));
  if (Bytes.IsUnreadable()) return Text(QT_TRANSLATE_NOOP("TFrmFileProperties", "无法读取"));
  if (const TPeHeaders* Pe = Bytes.Program()) return Pe->Is64 ? Text(QT_TRANSLATE_NOOP("TFrmFileProperties", "64 位程序"))
                                                              : Text(QT_TRANSLATE_NOOP("TFrmFileProperties", "32 位程序"));
  if (Bytes.IsCab())
    return Text(QT_TRANSLATE_NOOP("TFrmFileProperties", "CAB 压缩文件"));
  return Text(QT_TRANSLATE_NOOP("TFrmFileProperties", "不是程序"));
}
}  // namespace

TFrmFileProperties* TFrmFileProperties::Open(const QString& Path, QWidget* Owner) {
  if (TFrmFileProperties* Existing = Find(Path)) {
    Existing->showNormal();
    Existing->raise();
    Existing->activateWindow();
    return Existing;
  }
  auto* Window = new TFrmFileProperties(Path, Owner);
  if (Owner) Window->CentreOn(Owner);
  Window->show();
  Window->activateWindow();
  return Window;
}

TFrmFileProperties* TFrmFileProperties::Find(const QString& Path) { return OpenWindows().value(Key(Path)); }

QString TFrmFileProperties::Key(const QString& Path) { return QFileInfo(Path).absoluteFilePath(); }

TFrmFileProperties::TFrmFileProperties(const QString& FilePath, QWidget* Owner)
    : QWidget(Owner, Qt::Window), Path(FilePath) {
  setObjectName("FrmFileProperties");
  setAttribute(Qt::WA_DeleteOnClose);
  // The program ends with its main window; an open properties window does not keep it running.
  setAttribute(Qt::WA_QuitOnClose, false);
  setWindowTitle(tr("%1 属性").arg(QFileInfo(Path).fileName()));
  OpenWindows().insert(Key(Path), this);
  if (QFileInfo::exists(Path))
    CreateTabs();
  else
    CreateMissingFilePage();
  for (const QKeySequence& Keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
    connect(new QShortcut(Keys, this), &QShortcut::activated, this, &QWidget::close);
  if (Owner) Owner->installEventFilter(this);
}

TFrmFileProperties::~TFrmFileProperties() {
  const auto It = OpenWindows().constFind(Key(Path));
  if (It != OpenWindows().cend() && It.value() == this) OpenWindows().erase(It);
}

void TFrmFileProperties::CentreOn(const QWidget* Owner) {
  // The frame's size is not known before the window is shown; the client size is close enough.
  QRect Placed(QPoint(), size());
  Placed.moveCenter(Owner->frameGeometry().center());
  if (const QScreen* Screen = Owner->screen()) {
    // Kept on the owner's screen when the owner hangs over its edge.
    const QRect Available = Screen->availableGeometry();
    Placed.moveLeft(std::clamp(Placed.left(), Available.left(), std::max(Available.left(), Available.right() - Placed.width())));
    Placed.moveTop(std::clamp(Placed.top(), Available.top(), std::max(Available.top(), Available.bottom() - Placed.height())));
  }
  move(Placed.topLeft());
}

bool TFrmFileProperties::eventFilter(QObject* Watched, QEvent* Event) {
  // Hidden by the program (closed), not by the window system (minimised).
  if (Watched == parent() && Event->type() == QEvent::Hide && !Event->spontaneous()) close();
  return QWidget::eventFilter(Watched, Event);
}

void TFrmFileProperties::CreateCloseButton(QBoxLayout* Layout) {
  btnClose = new QPushButton(tr("关闭"), this);
  btnClose->setObjectName("btnClose");
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
  Layout->addWidget(btnClose, 0, Qt::AlignRight);
}

void TFrmFileProperties::CreateMissingFilePage() {
  resize(440, 120);
  auto* Layout = new QVBoxLayout(this);
  lblMessage = ValueLabel(this, tr("找不到文件“%1”。请确定该文件没有被移动、重命名或删除。")
                                    .arg(QDir::toNativeSeparators(Path)));
  Layout->addWidget(lblMessage, 1, Qt::AlignTop);
  CreateCloseButton(Layout);
}

void TFrmFileProperties::CreateTabs() {
  resize(440, 530);
  auto* Layout = new QVBoxLayout(this);
  Tabs = new QTabWidget(this);
  Layout->addWidget(Tabs);
  CreateCloseButton(Layout);
  const QFileInfo Info(Path);
  const TProgramBytes Bytes(Info);
  Tabs->addTab(CreateGeneralTab(KindText(Info, Bytes)), tr("常规"));
  if (Bytes.IsUnreadable())
    Tabs->addTab(CreateMessagePage(tr("无法读取此文件。")), tr("数字签名"));
  else
    Tabs->addTab(CreateSignaturesTab(Bytes.Authenticode()), tr("数字签名"));
}

QWidget* TFrmFileProperties::CreateGeneralTab(const QString& Kind) {
  auto* Page = new QWidget(Tabs);
  auto* Form = new QFormLayout(Page);
  const QFileInfo Info(Path);
  const QLocale Chinese(QLocale::Chinese, QLocale::China);

  lblName = ValueLabel(Page, Info.fileName());
  lblFolder = ValueLabel(Page, QDir::toNativeSeparators(Info.absolutePath()));
  lblKind = ValueLabel(Page, Kind);
  lblSize = ValueLabel(Page, Info.isDir() ? QString() : tr("%1 字节").arg(Chinese.toString(Info.size())));
  lblModified = ValueLabel(Page, Info.lastModified().toString(tr("yyyy年M月d日 HH:mm:ss")));
  Form->addRow(tr("名称："), lblName);
  Form->addRow(tr("类型："), lblKind);
  Form->addRow(tr("位置："), lblFolder);
  Form->addRow(tr("大小："), lblSize);
  Form->addRow(tr("修改时间："), lblModified);
  return Page;
}

QWidget* TFrmFileProperties::CreateMessagePage(const QString& Message) {
  auto* Page = new QWidget(Tabs);
  auto* Layout = new QVBoxLayout(Page);
  lblMessage = ValueLabel(Page, Message);
  Layout->addWidget(lblMessage, 0, Qt::AlignTop);
  return Page;
}

void TFrmFileProperties::AddVerdict(QWidget* Page, QLayout* Layout) {
  const TVerifyResult Verdict =
      VerifySignature(QFile::encodeName(Path).toStdString(), ConfiguredVerifyTrustFile(ConfigFilePath()), TranslatedText);
  lblVerdict = ValueLabel(Page, tr("验证结果：%1").arg(QString::fromStdString(Verdict.Message)));
  Layout->addWidget(lblVerdict);
}

QWidget* TFrmFileProperties::CreateSignaturesTab(const TAuthenticodeInfo& Info) {
  if (Info.Signatures.empty()) {
    QWidget* Page = CreateMessagePage(Info.HasCertificateTable ? tr("此文件的数字签名已损坏，无法读取。")
                                                               : tr("此文件没有数字签名。"));
    if (Info.HasCertificateTable) AddVerdict(Page, Page->layout());
    return Page;
  }
  Signatures = Info.Signatures;
  auto* Page = new QWidget(Tabs);
  auto* Layout = new QVBoxLayout(Page);
  AddVerdict(Page, Layout);

  Layout->addWidget(new QLabel(tr("签名列表："), Page));
  lvSignatures = new QTreeWidget(Page);
  lvSignatures->setRootIsDecorated(false);
  lvSignatures->setHeaderLabels({tr("签名人姓名"), tr("摘要算法"), tr("时间戳")});
  for (const TSignatureInfo& Signature : Signatures)
    lvSignatures->addTopLevelItem(new QTreeWidgetItem(
        {Utf8(Signature.Signer), Utf8(Signature.DigestAlgorithm), TimeText(Signature.TimestampTime)}));
  lvSignatures->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  Layout->addWidget(lvSignatures);
  if (Info.MoreSignatures > 0) {
    lblMoreSignatures = ValueLabel(Page, tr("仅列出前 %1 个签名，另有 %2 个签名未列出。")
                                             .arg(Signatures.size())
                                             .arg(static_cast<qulonglong>(Info.MoreSignatures)));
    Layout->addWidget(lblMoreSignatures);
  }

  auto* Details = new QGroupBox(tr("签名详细信息"), Page);
  auto* Form = new QFormLayout(Details);
  lblSigner = ValueLabel(Details);
  lblIssuer = ValueLabel(Details);
  lblSerial = ValueLabel(Details);
  lblValidFrom = ValueLabel(Details);
  lblValidTo = ValueLabel(Details);
  lblDigest = ValueLabel(Details);
  lblTimestamp = ValueLabel(Details);
  Form->addRow(tr("签名人："), lblSigner);
  Form->addRow(tr("颁发者："), lblIssuer);
  Form->addRow(tr("序列号："), lblSerial);
  Form->addRow(tr("有效期从："), lblValidFrom);
  Form->addRow(tr("有效期到："), lblValidTo);
  Form->addRow(tr("摘要算法："), lblDigest);
  Form->addRow(tr("时间戳："), lblTimestamp);
  Layout->addWidget(Details);

  connect(lvSignatures, &QTreeWidget::currentItemChanged, this, [this] {
    ShowSignature(lvSignatures->indexOfTopLevelItem(lvSignatures->currentItem()));
  });
  lvSignatures->setCurrentItem(lvSignatures->topLevelItem(0));
  return Page;
}

void TFrmFileProperties::ShowSignature(int Index) {
  if (Index < 0 || Index >= static_cast<int>(Signatures.size())) return;
  const TSignatureInfo& Signature = Signatures[static_cast<std::size_t>(Index)];
  lblSigner->setText(Utf8(Signature.Signer));
  lblIssuer->setText(Utf8(Signature.Issuer));
  lblSerial->setText(Utf8(Signature.SerialNumber));
  lblValidFrom->setText(TimeText(Signature.ValidFrom));
  lblValidTo->setText(TimeText(Signature.ValidTo));
  lblDigest->setText(Utf8(Signature.DigestAlgorithm));
  lblTimestamp->setText(TimeText(Signature.TimestampTime));
}
