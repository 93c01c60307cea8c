// Adding a timestamp later: the pop-up menu's entry for rows signed without a timestamp.
#include <QAction>
#include <QComboBox>
#include <QPushButton>

#include <algorithm>

#include "common/TextUtil.h"
#include "common/uPubFunc.h"
#include "history/OptionsStore.h"
#include "signing/TRestampBatch.h"
#include "signing/TimestampCommand.h"
#include "ui/TFileListView.h"
#include "ui/uFrmMain.h"

namespace {
// The selected rows whose files were signed without a timestamp, in list order.
std::vector<TRowId> RowsToStamp(const TFileListView& List) {
  TFileListModel* Files = List.Files();
  std::vector<int> Positions = List.SelectedPositions();
  std::sort(Positions.begin(), Positions.end());
  std::vector<TRowId> Rows;
  for (const int Position : Positions) {
    const TRowId Row = Files->IdAt(Position);
    const TFileItem& Item = *Files->Item(Row);
    if (SignedWithoutTimestamp(static_cast<TFileStatus>(Item.Status), ToString(Item.Info))) Rows.push_back(Row);
  }
  return Rows;
}
}  // namespace

void TFrmMain::ShowRestampEntry() {
  pmiRestamp->setVisible(!RowsToStamp(*vstFiles).empty());
  pmiRestamp->setEnabled(pmiVerify->isEnabled());
}

void TFrmMain::pmiRestampClick() {
  // One batch at a time over the list, whichever kind it is.
  if (FRunningBatch != nullptr || !btnDelSign->isEnabled() || !btnAddSign->isEnabled()) return;
  std::vector<TRowId> Rows = RowsToStamp(*vstFiles);
  if (Rows.empty()) return;
  const std::string TimeStamp = Trim(cbTimeStamp->currentText().toStdString());
  if (TimeStamp.empty()) {
    ShowPrompt(tr("时间戳不能为空").toStdString(), "", pkInfo);
    cbTimeStamp->setFocus();
    return;
  }
  FRestampBatch->Prepare(std::move(Rows), TimeStamp, ReadRfc3161Timestamps(FConfigFile),
                         ReadTimestampInterval(FConfigFile));
  RunBatch(FRestampBatch);
}
