#pragma once
// The main window: every control and every command of Quillory.
#include <QString>
#include <QWidget>
#include <string>
#include <thread>

#include "filelist/TFileBatch.h"
#include "signing/SignCommand.h"

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
class TRemoveBatch;
class TRestampBatch;
class TSignBatch;
struct TKeySessionOpening;
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
  QAction* pmiCloudKey;
  TFileListView* vstFiles;
  QMenu* PopupMenu;
  QAction* pmiDelete;
  QAction* N2;
  QAction* pmiSelAll;
  QAction* pmiUnSelAll;
  QAction* N5;
  QAction* N6;
  QAction* pmiAddFiles;
  QAction* pmiAddFolder;
  QAction* N8;
  QAction* pmiVerify;
  QAction* pmiRestamp;  // shown while a selected row's file is signed without a timestamp
  QAction* pmiExportReport;  // enabled once a signing batch has run
  QAction* N7;
  QAction* pmiOptions;
  QTimer* Timer;

  // Window
  void FormCreate();
  void FormShow();
  void btnExitClick();
  void btnSignFileClick();
  void pmiTokenCertClick();
  void pmiCloudKeyClick();

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
  // The same intake as a drop: files chosen in a dialog, or every file below a chosen folder.
  void pmiAddFilesClick();
  void pmiAddFolderClick();
  void vstFilesDblClick();
  void pmiDeleteClick();
  void pmiSelAllClick();
  void pmiUnSelAllClick();
  void N5Click();
  void pmiOptionsClick();

  // Batches
  void btnAddSignClick();
  void btnDelSignClick();
  // Verifies the selected rows' signatures, or every row's when none is selected.
  void pmiVerifyClick();
  // Adds a timestamp, from the servers in the timestamp box, to the selected rows' files that
  // were signed without one.
  void pmiRestampClick();
  void ShowRestampEntry();
  // Writes the last signing batch's report (BatchReport.h) to a file the user chooses.
  void pmiExportReportClick();
  void ShowReportEntry();
  // Disables Start, Remove and Verify, shows the batch's progress in the title and starts it. When it
  // finishes BatchDone shows its summary and brings the buttons back. Rethrows what Start
  // throws, with the buttons back.
  void RunBatch(TFileBatch* Batch);
  // Remove, Start and Verify: off while a batch is begun or a key is opened.
  void SetBatchCommandsEnabled(bool Enabled);
  // Stop, while a batch runs: no further file is begun; once the files under way are done the
  // batch ends with the summary of what was done.
  void StopBatch();
  void BatchDone(const TBatchSummary& Summary);

  // Vendor hooks
  void Button1Click();
  void TimerTimer();
  void wbADLoadingChanged(const QWebEngineLoadingInfo& Loading);

 protected:
  void showEvent(QShowEvent* Event) override;
  // During a batch: asks first; on Yes no further file is begun, and the window closes once the
  // files under way are done.
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
  void CreateBatches();
  // The texts a file is signed with, as they are now.
  TSignSettings CurrentSignSettings() const;
  // The password box's caption: the token's PIN while the certificate box names a token.
  void ShowSecretCaption();
  // Opens the batch's key with the typed password or PIN on a thread of its own (a token's login
  // may take a while), Start and the other batch commands disabled meanwhile; KeySessionOpened
  // then starts the batch with it, or refuses with the reason.
  void OpenKeyAndSign();
  void KeySessionOpened(TKeySessionOpening& Opening);
  std::thread FKeyOpening;
  void ShowBatchProgress();

  TSignBatch* FSignBatch = nullptr;
  TRemoveBatch* FRemoveBatch = nullptr;
  TVerifyBatch* FVerifyBatch = nullptr;
  TRestampBatch* FRestampBatch = nullptr;
  TFileBatch* FRunningBatch = nullptr;
  QString FPlainTitle;  // the title without the running batch's progress
  bool FCloseAfterBatch = false;
};

// The history section a box's Tag selects.
int HistoryTag(const QComboBox* Box);
