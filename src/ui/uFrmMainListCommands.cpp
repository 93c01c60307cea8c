// The list's pop-up menu and double-click.
#include "common/uPubFunc.h"
#include "ui/TFileListView.h"
#include "ui/uFrmMain.h"

void TFrmMain::pmiDeleteClick() { vstFiles->DeleteSelected(); }
void TFrmMain::pmiSelAllClick() { vstFiles->SelectAllRows(); }
void TFrmMain::pmiUnSelAllClick() { vstFiles->ClearSelection(); }
void TFrmMain::N5Click() { vstFiles->InvertSelection(); }

void TFrmMain::vstFilesDblClick() {
  const auto Focused = vstFiles->FocusedRow();
  if (!Focused) return;
  if (const std::string FileName = vstFiles->Files()->FileName(*Focused); !FileName.empty()) ShowFileProperties(FileName);
}
