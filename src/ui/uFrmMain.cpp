#include "ui/uFrmMain.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDropEvent>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QHeaderView>
#include <algorithm>
#include <exception>

#include "signing/TSignBatch.h"
#include "ui/ConfigFile.h"
#include "ui/ErrorReport.h"
#include "ui/TFileListView.h"
#include "ui/FileDialogs.h"
#include "ui/TAnchorLayout.h"
#include "ui/TWorkingRowFollower.h"
#include "vendor/TWebBrowseEx.h"
#include "vendor/VendorAddresses.h"

namespace {
QFont WindowFont() {
  // SimSun as designed; the CJK fonts of this platform where it is missing.
  QFont Font;
  Font.setFamilies({"SimSun", "宋体", "NSimSun", "WenQuanYi Zen Hei", "Noto Sans CJK SC", "Noto Sans CJK"});
  Font.setPixelSize(12);
  return Font;
}

QString Utf8(const char* Text) { return QString::fromUtf8(Text); }

QComboBox* HistoryBox(QWidget* Parent, const char* Name, int Tag) {
  auto* Box = new QComboBox(Parent);
  Box->setObjectName(Name);
  Box->setEditable(true);
  Box->setInsertPolicy(QComboBox::NoInsert);
  Box->setProperty("Tag", Tag);
  return Box;
}

// A label left of its box. The Chinese text sits at At; a translation of another length is
// right-aligned a few pixels before the box, so the Chinese window keeps its exact positions.
QLabel* Label(QWidget* Parent, const char* Name, const char* Source, QPoint At, int BoxLeft) {
  const QString Text = QCoreApplication::translate("TFrmMain", Source);
  auto* Result = new QLabel(Text, Parent);
  Result->setObjectName(Name);
  Result->adjustSize();
  if (Text == Utf8(Source))
    Result->move(At);
  else
    Result->move(BoxLeft - 3 - Result->width(), At.y());
  return Result;
}

QPushButton* Button(QWidget* Parent, const char* Name, const QString& Caption) {
  auto* Result = new QPushButton(Caption, Parent);
  Result->setObjectName(Name);
  return Result;
}

}  // namespace

int HistoryTag(const QComboBox* Box) { return Box->property("Tag").toInt(); }

TFrmMain::TFrmMain(QWidget* Parent) : QWidget(Parent) {
  setObjectName("FrmMain");
  setWindowTitle("Quillory");
  setWindowIcon(QIcon(":/res/quillory.png"));
  setFont(WindowFont());
  setAttribute(Qt::WA_DeleteOnClose, false);
  QPalette Face = palette();
  Face.setColor(QPalette::Window, Face.color(QPalette::Button));
  setPalette(Face);
  setAutoFillBackground(true);
  resize(DesignWidth, DesignHeight);
  if (const QScreen* Screen = screen()) move(Screen->availableGeometry().center() - rect().center());

  CreateControls();
  SetMinimumSize();
  SetTabOrder();
  CreateBatches();
  ConnectHandlers();
  // A failed creation step is reported like any handler's error, and the window opens anyway.
  try {
    FormCreate();
  } catch (const std::exception& Error) {
    ShowErrorReport(Error.what());
  }
}

TFrmMain::~TFrmMain() {
  // A key being opened for Start is waited for; its answer, still queued, goes with the window
  // and ends the session it brings.
  if (FKeyOpening.joinable()) FKeyOpening.join();
  // The signing worker reads the settings boxes: it ends before they go.
  delete FSignBatch;
  FSignBatch = nullptr;
  // The controls outlive this part of the window while QWidget deletes them, and some still
  // signal on the way (a drop-down box whose text matches an item reports it as picked when its
  // edit line loses the focus). No handler may run on a window that is half gone.
  for (QObject* Child : findChildren<QObject*>()) Child->disconnect(this);
}

void TFrmMain::CreateControls() {
  auto* Anchors = new TAnchorLayout(this, QSize(DesignWidth, DesignHeight));

  btnAddSign = Button(this, "btnAddSign", tr("开始签名(&S)"));
  Anchors->Place(btnAddSign, QRect(394, 447, 89, 27), akRight | akBottom);

  gbInfo = new QGroupBox(tr("签名信息设置"), this);
  gbInfo->setObjectName("gbInfo");
  Anchors->Place(gbInfo, QRect(21, 72, 657, 139), akLeft | akTop | akRight);
  CreateInfoGroup();

  gbFiles = new QGroupBox(tr(" 待签名文件列表（可直接把文件拖动列表中；双击可查看文件属性） "), this);
  gbFiles->setObjectName("gbFiles");
  Anchors->Place(gbFiles, QRect(21, 221, 657, 219), akLeft | akTop | akRight | akBottom);
  CreateFilesGroup();

  btnDelSign = Button(this, "btnDelSign", tr("删除签名(&D)"));
  Anchors->Place(btnDelSign, QRect(296, 447, 89, 27), akRight | akBottom);

  btnExit = Button(this, "btnExit", tr("退出程序(&X)"));
  Anchors->Place(btnExit, QRect(592, 447, 89, 27), akRight | akBottom);

  pnlAD = new QWidget(this);
  pnlAD->setObjectName("pnlAD");
  Anchors->AlignTop(pnlAD, 60);

  Button1 = Button(this, "Button1", tr("访问官网(&W)"));
  Anchors->Place(Button1, QRect(493, 447, 89, 27), akRight | akBottom);

  Timer = new QTimer(this);
  Timer->setObjectName("Timer");
  Timer->setInterval(6000);
  Timer->start();
  CreateBanner();

  CreatePopupMenu();
}

void TFrmMain::CreateInfoGroup() {
  auto* Anchors = new TAnchorLayout(gbInfo, QSize(657, 139));

  Label6 = Label(gbInfo, "Label6", QT_TRANSLATE_NOOP("TFrmMain", "证书文件："), {17, 29}, 78);
  cbFile = HistoryBox(gbInfo, "cbFile", 1);
  Anchors->Place(cbFile, QRect(78, 25, 329, 20), akLeft | akTop | akRight);

  Label2 = Label(gbInfo, "Label2", QT_TRANSLATE_NOOP("TFrmMain", "签名密码："), {469, 29}, 527);
  // The caption reads as the PIN's while the certificate box names a token (ShowSecretCaption):
  // room for the wider of the two, right-aligned where the password's caption ends.
  QRect SecretCaption = Label2->geometry();
  const QString PasswordCaption = Label2->text();
  for (const QString& Caption : {tr("令牌PIN："), tr("访问令牌：")}) {
    Label2->setText(Caption);
    SecretCaption.setLeft(std::min(SecretCaption.left(), SecretCaption.right() + 1 - Label2->sizeHint().width()));
  }
  Label2->setText(PasswordCaption);
  Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Anchors->Place(Label2, SecretCaption, akTop | akRight);
  edtPwd = new QLineEdit(gbInfo);
  edtPwd->setObjectName("edtPwd");
  edtPwd->setEchoMode(QLineEdit::Password);
  edtPwd->setStyleSheet("lineedit-password-character: 42");  // "*"
  Anchors->Place(edtPwd, QRect(527, 24, 113, 22), akTop | akRight);

  Label4 = Label(gbInfo, "Label4", QT_TRANSLATE_NOOP("TFrmMain", "时间戳："), {29, 56}, 78);
  cbTimeStamp = HistoryBox(gbInfo, "cbTimeStamp", 3);
  Anchors->Place(cbTimeStamp, QRect(78, 52, 562, 20), akLeft | akTop | akRight);

  lblDescription = Label(gbInfo, "lblDescription", QT_TRANSLATE_NOOP("TFrmMain", "签名描述："), {17, 83}, 78);
  cbDescription = HistoryBox(gbInfo, "cbDescription", 0);
  Anchors->Place(cbDescription, QRect(78, 79, 562, 20), akLeft | akTop | akRight);

  Label3 = Label(gbInfo, "Label3", QT_TRANSLATE_NOOP("TFrmMain", "软件网址："), {17, 111}, 78);
  cbURL = HistoryBox(gbInfo, "cbURL", 2);
  Anchors->Place(cbURL, QRect(78, 107, 562, 20), akLeft | akTop | akRight);

  btnSignFile = new QToolButton(gbInfo);
  btnSignFile->setObjectName("btnSignFile");
  QIcon Magnifier;
  Magnifier.addFile(":/res/magnifier.png", {}, QIcon::Normal);
  Magnifier.addFile(":/res/magnifier-disabled.png", {}, QIcon::Disabled);
  btnSignFile->setIcon(Magnifier);
  btnSignFile->setIconSize(QSize(20, 18));
  Anchors->Place(btnSignFile, QRect(414, 24, 24, 22), akTop | akRight);
  // The button's arrow offers certificates on tokens too; a click still opens the file dialog.
  CertificateMenu = new QMenu(btnSignFile);
  CertificateMenu->setObjectName("CertificateMenu");
  pmiCertFile = CertificateMenu->addAction(tr("选择PFX证书文件(&F)..."));
  pmiCertFile->setObjectName("pmiCertFile");
  pmiTokenCert = CertificateMenu->addAction(tr("选择令牌或智能卡中的证书(&T)..."));
  pmiTokenCert->setObjectName("pmiTokenCert");
  pmiCloudKey = CertificateMenu->addAction(tr("指定密钥服务中的密钥(&K)..."));
  pmiCloudKey->setObjectName("pmiCloudKey");
  btnSignFile->setMenu(CertificateMenu);
  btnSignFile->setPopupMode(QToolButton::MenuButtonPopup);
  btnSignFile->setToolTip(tr("选择证书文件；点击箭头可选择令牌或智能卡中的证书，或密钥服务中的密钥"));
}

void TFrmMain::CreateFilesGroup() {
  auto* Anchors = new TAnchorLayout(gbFiles, QSize(657, 219));
  vstFiles = new TFileListView(gbFiles);
  vstFiles->setObjectName("vstFiles");
  QFont ListFont = WindowFont();
  vstFiles->setFont(ListFont);
  QPalette Black = vstFiles->palette();
  Black.setColor(QPalette::Text, Qt::black);
  vstFiles->setPalette(Black);
  Anchors->Place(vstFiles, QRect(17, 26, 622, 179), akLeft | akTop | akRight | akBottom);
  FWorkFollower = new TWorkingRowFollower(vstFiles);
}

void TFrmMain::CreatePopupMenu() {
  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName("PopupMenu");
  pmiDelete = PopupMenu->addAction(tr("删除选中(&D)"));
  pmiDelete->setObjectName("pmiDelete");
  N2 = PopupMenu->addSeparator();
  N2->setObjectName("N2");
  pmiSelAll = PopupMenu->addAction(tr("全部选中(&A)"));
  pmiSelAll->setObjectName("pmiSelAll");
  pmiUnSelAll = PopupMenu->addAction(tr("全部不选(&C)"));
  pmiUnSelAll->setObjectName("pmiUnSelAll");
  N5 = PopupMenu->addAction(tr("反向选择(&U)"));
  N5->setObjectName("N5");
  N6 = PopupMenu->addSeparator();
  N6->setObjectName("N6");
  pmiAddFiles = PopupMenu->addAction(tr("添加文件(&L)..."));
  pmiAddFiles->setObjectName("pmiAddFiles");
  pmiAddFolder = PopupMenu->addAction(tr("添加文件夹(&F)..."));
  pmiAddFolder->setObjectName("pmiAddFolder");
  N8 = PopupMenu->addSeparator();
  N8->setObjectName("N8");
  pmiVerify = PopupMenu->addAction(tr("验证签名(&V)"));
  pmiVerify->setObjectName("pmiVerify");
  pmiRestamp = PopupMenu->addAction(tr("重新加盖时间戳(&T)"));
  pmiRestamp->setObjectName("pmiRestamp");
  pmiExportReport = PopupMenu->addAction(tr("导出报告(&E)..."));
  pmiExportReport->setObjectName("pmiExportReport");
  N7 = PopupMenu->addSeparator();
  N7->setObjectName("N7");
  pmiOptions = PopupMenu->addAction(tr("选项(&O)..."));
  pmiOptions->setObjectName("pmiOptions");
}

void TFrmMain::SetMinimumSize() {
  // The smallest window that still works: the controls of fixed size keep it and none overlaps
  // another, the certificate box (the narrowest of the boxes that stretch) keeps 150 pixels for
  // about 25 characters of a path, and the list keeps three whole rows below its header, also
  // when it is narrow enough to show its horizontal scroll bar.
  constexpr int CertificateBoxWidth = 329;
  constexpr int SmallestCertificateBox = 150;
  constexpr int ListHeight = 179;
  constexpr int RowsKept = 3;
  const int SmallestList = 2 * vstFiles->frameWidth() + TFileListView::HeaderHeight +
                           RowsKept * TFileListView::RowHeight + vstFiles->horizontalScrollBar()->sizeHint().height();
  setMinimumSize(DesignWidth - (CertificateBoxWidth - SmallestCertificateBox),
                 DesignHeight - (ListHeight - SmallestList));
}

void TFrmMain::SetTabOrder() {
  const QList<QWidget*> Order = {btnAddSign, cbFile, edtPwd, cbTimeStamp, cbDescription, cbURL,
                                 btnSignFile, vstFiles, btnDelSign, btnExit, pnlAD, Button1};
  for (int I = 1; I < Order.size(); ++I) setTabOrder(Order[I - 1], Order[I]);
}

void TFrmMain::ConnectHandlers() {
  connect(btnAddSign, &QPushButton::clicked, this, &TFrmMain::btnAddSignClick);
  connect(btnDelSign, &QPushButton::clicked, this, &TFrmMain::btnDelSignClick);
  connect(btnExit, &QPushButton::clicked, this, &TFrmMain::btnExitClick);
  connect(Button1, &QPushButton::clicked, this, &TFrmMain::Button1Click);
  connect(btnSignFile, &QToolButton::clicked, this, &TFrmMain::btnSignFileClick);
  connect(cbFile, &QComboBox::editTextChanged, this, &TFrmMain::ShowSecretCaption);
  connect(pmiCertFile, &QAction::triggered, this, &TFrmMain::btnSignFileClick);
  connect(pmiTokenCert, &QAction::triggered, this, &TFrmMain::pmiTokenCertClick);
  connect(pmiCloudKey, &QAction::triggered, this, &TFrmMain::pmiCloudKeyClick);
  connect(Timer, &QTimer::timeout, this, &TFrmMain::TimerTimer);
  for (QComboBox* Box : {cbDescription, cbFile, cbURL, cbTimeStamp})
    connect(Box, &QComboBox::activated, this, [this, Box] { cbDescriptionCloseUp(Box); });
  connect(vstFiles, &TFileListView::DragOver, this, &TFrmMain::vstFilesDragOver);
  connect(vstFiles, &TFileListView::Dropped, this, &TFrmMain::vstFilesDragDrop);
  connect(vstFiles, &QAbstractItemView::doubleClicked, this, &TFrmMain::vstFilesDblClick);
  connect(vstFiles, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& At) { PopupMenu->popup(vstFiles->viewport()->mapToGlobal(At)); });
  connect(pmiDelete, &QAction::triggered, this, &TFrmMain::pmiDeleteClick);
  connect(pmiSelAll, &QAction::triggered, this, &TFrmMain::pmiSelAllClick);
  connect(pmiUnSelAll, &QAction::triggered, this, &TFrmMain::pmiUnSelAllClick);
  connect(N5, &QAction::triggered, this, &TFrmMain::N5Click);
  connect(pmiAddFiles, &QAction::triggered, this, &TFrmMain::pmiAddFilesClick);
  connect(pmiAddFolder, &QAction::triggered, this, &TFrmMain::pmiAddFolderClick);
  connect(pmiVerify, &QAction::triggered, this, &TFrmMain::pmiVerifyClick);
  connect(PopupMenu, &QMenu::aboutToShow, this, &TFrmMain::ShowRestampEntry);
  connect(pmiRestamp, &QAction::triggered, this, &TFrmMain::pmiRestampClick);
  connect(PopupMenu, &QMenu::aboutToShow, this, &TFrmMain::ShowReportEntry);
  connect(pmiExportReport, &QAction::triggered, this, &TFrmMain::pmiExportReportClick);
  ConnectListKeys();
  connect(pmiOptions, &QAction::triggered, this, &TFrmMain::pmiOptionsClick);
}

void TFrmMain::FormCreate() {
  // The message filter that lets a lower-privileged file manager drop files exists only on
  // Windows; here there is nothing to open and the step is skipped.
  FConfigFile = ConfigFilePath();
  LoadHistory();
  // Each row's record is a TFileItem, 513 bytes, fixed at compile time.
  wbAD->Navigate(QString::fromUtf16(AdPageUrl));
}

void TFrmMain::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  FormShow();
}

void TFrmMain::FormShow() {}

void TFrmMain::btnExitClick() { close(); }

void TFrmMain::btnSignFileClick() {
  if (const auto Chosen = AskOpenFileName(this, tr("证书文件(*.pfx)")))
    cbFile->setEditText(QDir::toNativeSeparators(QFileInfo(*Chosen).absoluteFilePath()));
}
