// Remove: the removal batch.
#include <QPushButton>

#include "signing/TRemoveBatch.h"
#include "ui/uFrmMain.h"

void TFrmMain::btnDelSignClick() {
  // The window handles its messages during a batch, so a click can arrive meanwhile; it must not
  // start another batch over the same files.
  if (FRunningBatch != nullptr || !btnDelSign->isEnabled() || !btnAddSign->isEnabled()) return;
  RunBatch(FRemoveBatch);
}
