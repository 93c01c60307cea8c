// Verify: the verification batch started from the list's pop-up menu.
#include <QAction>
#include <QPushButton>

#include <algorithm>

#include "signing/TVerifyBatch.h"
#include "ui/ConfigFile.h"
#include "ui/TFileListView.h"
#include "ui/uFrmMain.h"

void TFrmMain::pmiVerifyClick() {
  // One batch at a time over the list, whichever kind it is.
  if (FRunningBatch != nullptr || !btnDelSign->isEnabled() || !btnAddSign->isEnabled()) return;

  TFileListModel* Files = vstFiles->Files();
  std::vector<int> Positions = vstFiles->SelectedPositions();
  std::sort(Positions.begin(), Positions.end());
  if (Positions.empty())
    for (int Row = 0; Row < Files->Count(); ++Row) Positions.push_back(Row);
  std::vector<TRowId> Rows;
  for (const int Row : Positions) Rows.push_back(Files->IdAt(Row));
  FVerifyBatch->Prepare(std::move(Rows), ConfiguredVerifyTrustFile(FConfigFile));
  RunBatch(FVerifyBatch);
}
