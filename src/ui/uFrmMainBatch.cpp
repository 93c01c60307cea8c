// What every batch shares in the window: Start and Remove, Stop, progress in the title, the
// summary, and closing while a batch runs.
#include <QAction>
#include <QCloseEvent>
#include <QPushButton>

#include "common/uPubFunc.h"
#include "ui/TFileListView.h"
#include "signing/TRemoveBatch.h"
#include "signing/TRestampBatch.h"
#include "signing/TSignBatch.h"
#include "signing/TVerifyBatch.h"
#include "ui/BatchProgressText.h"
#include "ui/MessageBox.h"
#include "ui/TWorkingRowFollower.h"
#include "ui/uFrmMain.h"

void TFrmMain::CreateBatches() {
  FSignBatch = new TSignBatch(vstFiles->Files(), [this] { return CurrentSignSettings(); }, this);
  FRemoveBatch = new TRemoveBatch(vstFiles->Files(), this);
  FVerifyBatch = new TVerifyBatch(vstFiles->Files(), this);
  FRestampBatch = new TRestampBatch(vstFiles->Files(), this);
  for (TFileBatch* Batch : std::initializer_list<TFileBatch*>{FSignBatch, FRemoveBatch, FVerifyBatch, FRestampBatch}) {
    connect(Batch, &TFileBatch::ProgressChanged, this, &TFrmMain::ShowBatchProgress);
    connect(Batch, &TFileBatch::Finished, this, &TFrmMain::BatchDone);
    connect(Batch, &TFileBatch::RowStarted, FWorkFollower, &TWorkingRowFollower::RowStarted);
    connect(Batch, &TFileBatch::RowFinished, FWorkFollower, &TWorkingRowFollower::RowFinished);
  }
}

void TFrmMain::SetBatchCommandsEnabled(bool Enabled) {
  btnDelSign->setEnabled(Enabled);
  btnAddSign->setEnabled(Enabled);
  pmiVerify->setEnabled(Enabled);
}

void TFrmMain::RunBatch(TFileBatch* Batch) {
  btnDelSign->setEnabled(false);
  // Start becomes Stop for as long as the batch runs (also after it was disabled while the
  // signing key was opened).
  btnAddSign->setText(tr("停止(&S)"));
  btnAddSign->setEnabled(true);
  pmiVerify->setEnabled(false);
  FRunningBatch = Batch;
  FPlainTitle = windowTitle();
  FWorkFollower->BatchStarted();
  try {
    Batch->Start();
  } catch (...) {
    BatchDone({});
    throw;
  }
}

void TFrmMain::StopBatch() {
  if (FRunningBatch == nullptr) return;
  // Until the files under way are done, the window shows that it is stopping.
  btnAddSign->setText(tr("正在停止..."));
  btnAddSign->setEnabled(false);
  FRunningBatch->Stop();
  ShowBatchProgress();
}

void TFrmMain::ShowBatchProgress() {
  if (FRunningBatch == nullptr) return;
  QString Title = FPlainTitle + " - " + BatchProgressText(FRunningBatch->Progress());
  if (FRunningBatch->StopRequested()) Title += tr("（正在停止，等待进行中的文件完成）");
  setWindowTitle(Title);
}

void TFrmMain::BatchDone(const TBatchSummary& Summary) {
  FRunningBatch = nullptr;
  FWorkFollower->BatchEnded();
  setWindowTitle(FPlainTitle);
  // Nothing is left to stop while the summary is shown; Start comes back once it is closed.
  btnAddSign->setText(tr("开始签名(&S)"));
  btnAddSign->setEnabled(false);
  // A window closed during the batch goes without the summary.
  if (!Summary.Text.empty() && !FCloseAfterBatch) ShowPrompt(Summary.Text, "", Summary.Kind);
  SetBatchCommandsEnabled(true);
  if (FCloseAfterBatch) {
    FCloseAfterBatch = false;
    close();
  }
}

void TFrmMain::closeEvent(QCloseEvent* Event) {
  // Start is opening the key: nothing has been touched yet, so the batch is not begun and the
  // window goes once the key is back (KeySessionOpened).
  if (FKeyOpening.joinable()) {
    FCloseAfterBatch = true;
    Event->ignore();
    return;
  }
  if (FRunningBatch == nullptr) {
    QWidget::closeEvent(Event);
    return;
  }
  // The window goes once the files under way are done; BatchDone closes it.
  Event->ignore();
  if (FCloseAfterBatch) return;
  const QString Question = FRunningBatch == FSignBatch ? tr("正在签名，确定要停止并退出吗？")
                                                       : tr("正在处理列表中的文件，确定要停止并退出吗？");
  if (ShowPrompt(Question.toStdString(), "", pkQuestion) != idYes) return;
  // The answer may come after the batch has ended by itself.
  if (FRunningBatch == nullptr) {
    close();
    return;
  }
  FCloseAfterBatch = true;
  StopBatch();
}
