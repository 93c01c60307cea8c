// The list's pop-up menu, double-click and keys.
#include <QAction>
#include <QShortcut>

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

void TFrmMain::ConnectListKeys() {
  const auto OnKey = [this](QKeySequence Keys, auto Handler) {
    auto* Shortcut = new QShortcut(Keys, vstFiles);
    Shortcut->setContext(Qt::WidgetShortcut);
    connect(Shortcut, &QShortcut::activated, this, Handler);
  };
  // Through the menu entry, so the key is refused whenever the entry is.
  OnKey(QKeySequence::Delete, [this] { pmiDelete->trigger(); });
  OnKey(QKeySequence(Qt::Key_Return), &TFrmMain::vstFilesDblClick);
  OnKey(QKeySequence(Qt::Key_Enter), &TFrmMain::vstFilesDblClick);
}
