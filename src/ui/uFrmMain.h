#pragma once
// The main window: every control and every command of Quillory.
#include <QPointer>
#include <QWidget>
#include <string>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class QToolButton;
class QWebEngineLoadingInfo;
class QDragMoveEvent;
class QDropEvent;
class TFileListView;
class TSignThread;
class TVerifyBatch;
class TWebBrowseEx;
class TWorkingRowFollower;

class TFrmMain : public QWidget {
  Q_OBJECT

 public:
  static constexpr int DesignWidth = 699;
  static constexpr int DesignHeight = 482;

  explicit TFrmMain(QWidget* Parent = nullptr);
  ~TFrmMain() override;

  // The history file: config.ini beside the program, or in the user's configuration folder
  // when the program's folder cannot be written.
  std::string FConfigFile;

  // Controls, named as the handlers refer to them.
  QPushButton* btnAddSign;
  QGroupBox* gbInfo;
  QGroupBox* gbFiles;
  QPushButton* btnDelSign;
  QPushButton* btnExit;
  QWidget* pnlAD;
  TWebBrowseEx* wbAD;
  QPushButton* Button1;
  QLabel* Label6;
  QComboBox* cbFile;
  QLabel* Label2;
  QLineEdit* edtPwd;
  QLabel* Label4;
  QComboBox* cbTimeStamp;
  QLabel* lblDescription;
  QComboBox* cbDescription;
  QLabel* Label3;
  QComboBox* cbURL;
  QToolButton* btnSignFile;
  QMenu* CertificateMenu;  // on btnSignFile's arrow
  QAction* pmiCertFile;
  QAction* pmiTokenCert;
  TFileListView* vstFiles;
  QMenu* PopupMenu;
  QAction* pmiDelete;
  QAction* N2;
  QAction* pmiSelAll;
  QAction* pmiUnSelAll;
  QAction* N5;
  QAction* N6;
  QAction* pmiVerify;
  QTimer* Timer;

  // Window
  void FormCreate();
  void FormShow();
  void btnExitClick();
  void btnSignFileClick();
  void pmiTokenCertClick();

  // Input history
  void LoadHistory();
  void LoadHistorySection(const std::string& Section, QComboBox* Box);
  void RememberText(QComboBox* Box);
  void SaveHistory();
  void ClearHistory(QComboBox* Box);
  void cbDescriptionCloseUp(QComboBox* Sender);

  // File list
  void vstFilesDragOver(QDragMoveEvent* Event);
  void vstFilesDragDrop(QDropEvent* Event);
  void vstFilesDblClick();
  void pmiDeleteClick();
  void pmiSelAllClick();
  void pmiUnSelAllClick();
  void N5Click();

  // Batches
  void btnAddSignClick();
  void SignThreadDone();
  void btnDelSignClick();
  // Verifies the selected rows' signatures, or every row's when none is selected.
  void pmiVerifyClick();
  void VerifyBatchDone(int Total, int Succeeded);

  // Vendor hooks
  void Button1Click();
  void TimerTimer();
  void wbADLoadingChanged(const QWebEngineLoadingInfo& Loading);

 protected:
  void showEvent(QShowEvent* Event) override;
  // During a signing batch: the batch stops after the current file, then the window closes.
  void closeEvent(QCloseEvent* Event) override;

 private:
  void CreateBanner();
  bool FUpdateRunning = false;  // DoUpdate is under way
  void CreateControls();
  void CreateInfoGroup();
  void CreateFilesGroup();
  void CreatePopupMenu();
  void SetTabOrder();
  void SetMinimumSize();
  void ConnectHandlers();
  void ConnectListKeys();

  TWorkingRowFollower* FWorkFollower = nullptr;
  QPointer<TSignThread> FSignThread;  // the running signing batch
  QPointer<TVerifyBatch> FVerifyBatch;  // the running verification batch
  bool FCloseAfterBatch = false;
};

// The history section a box's Tag selects.
int HistoryTag(const QComboBox* Box);
