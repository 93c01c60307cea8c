// Verify: the verification batch started from the list's pop-up menu.
#include <QAction>
#include <QCoreApplication>
#include <QPushButton>

#include <algorithm>

#include "common/uPubFunc.h"
#include "ui/TFileListView.h"
#include "signing/TVerifyBatch.h"
#include "ui/ConfigFile.h"
#include "ui/TWorkingRowFollower.h"
#include "ui/uFrmMain.h"

namespace {
std::string VerifySummary(int Total, int Succeeded) {
  return QCoreApplication::translate("TFrmMain", "共有%1个操作文件，验证成功%2个；失败%3个")
      .arg(Total)
      .arg(Succeeded)
      .arg(Total - Succeeded)
      .toStdString();
}
}  // namespace

void TFrmMain::pmiVerifyClick() {
  // One batch at a time over the list, whichever kind it is.
  if (FVerifyBatch || !btnDelSign->isEnabled() || !btnAddSign->isEnabled()) return;

  TFileListModel* Files = vstFiles->Files();
  std::vector<int> Positions = vstFiles->SelectedPositions();
  std::sort(Positions.begin(), Positions.end());
  if (Positions.empty())
    for (int Row = 0; Row < Files->Count(); ++Row) Positions.push_back(Row);
  std::vector<TVerifyBatch::TRow> Rows;
  for (const int Row : Positions) {
    const TRowId Id = Files->IdAt(Row);
    Rows.push_back({Id, ToString(Files->Item(Id)->FileName)});
  }

  btnDelSign->setEnabled(false);
  btnAddSign->setEnabled(false);
  pmiVerify->setEnabled(false);
  auto* Batch = new TVerifyBatch(Files, std::move(Rows), ConfiguredVerifyTrustFile(FConfigFile), this);
  connect(Batch, &TVerifyBatch::Finished, this, &TFrmMain::VerifyBatchDone);
  connect(Batch, &TVerifyBatch::RowStarted, FWorkFollower, &TWorkingRowFollower::RowStarted);
  connect(Batch, &TVerifyBatch::RowFinished, FWorkFollower, &TWorkingRowFollower::RowFinished);
  FWorkFollower->BatchStarted();
  FVerifyBatch = Batch;
  try {
    Batch->Start();
  } catch (...) {
    delete Batch;
    FWorkFollower->BatchEnded();
    btnDelSign->setEnabled(true);
    btnAddSign->setEnabled(true);
    pmiVerify->setEnabled(true);
    throw;
  }
}

void TFrmMain::VerifyBatchDone(int Total, int Succeeded) {
  ShowPrompt(VerifySummary(Total, Succeeded), "", pkInfo);
  if (FVerifyBatch) FVerifyBatch->deleteLater();
  FVerifyBatch = nullptr;
  FWorkFollower->BatchEnded();
  btnDelSign->setEnabled(true);
  btnAddSign->setEnabled(true);
  pmiVerify->setEnabled(true);
}
