// What every batch shares in the window: Start and Remove, progress in the title, the summary,
// and closing while a batch runs.
#include <QAction>
#include <QCloseEvent>
#include <QPushButton>

#include "common/uPubFunc.h"
#include "ui/TFileListView.h"
#include "signing/TRemoveBatch.h"
#include "signing/TSignBatch.h"
#include "signing/TVerifyBatch.h"
#include "ui/BatchProgressText.h"
#include "ui/TWorkingRowFollower.h"
#include "ui/uFrmMain.h"

void TFrmMain::CreateBatches() {
  FSignBatch = new TSignBatch(vstFiles->Files(), [this] { return CurrentSignSettings(); }, this);
  FRemoveBatch = new TRemoveBatch(vstFiles->Files(), this);
  FVerifyBatch = new TVerifyBatch(vstFiles->Files(), this);
  for (TFileBatch* Batch : std::initializer_list<TFileBatch*>{FSignBatch, FRemoveBatch, FVerifyBatch}) {
    connect(Batch, &TFileBatch::ProgressChanged, this, &TFrmMain::ShowBatchProgress);
    connect(Batch, &TFileBatch::Finished, this, &TFrmMain::BatchDone);
    connect(Batch, &TFileBatch::RowStarted, FWorkFollower, &TWorkingRowFollower::RowStarted);
    connect(Batch, &TFileBatch::RowFinished, FWorkFollower, &TWorkingRowFollower::RowFinished);
  }
}

void TFrmMain::RunBatch(TFileBatch* Batch) {
  btnDelSign->setEnabled(false);
  btnAddSign->setEnabled(false);
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

void TFrmMain::ShowBatchProgress() {
  if (FRunningBatch == nullptr) return;
  setWindowTitle(FPlainTitle + " - " + BatchProgressText(FRunningBatch->Progress()));
}

void TFrmMain::BatchDone(const TBatchSummary& Summary) {
  FRunningBatch = nullptr;
  FWorkFollower->BatchEnded();
  setWindowTitle(FPlainTitle);
  // A window closed during the batch goes without the summary.
  if (!Summary.Text.empty() && !FCloseAfterBatch) ShowPrompt(Summary.Text, "", Summary.Kind);
  btnDelSign->setEnabled(true);
  btnAddSign->setEnabled(true);
  pmiVerify->setEnabled(true);
  if (FCloseAfterBatch) {
    FCloseAfterBatch = false;
    close();
  }
}

void TFrmMain::closeEvent(QCloseEvent* Event) {
  if (FRunningBatch != nullptr) {
    FRunningBatch->Stop();
    FCloseAfterBatch = true;
    Event->ignore();
    return;
  }
  QWidget::closeEvent(Event);
}
