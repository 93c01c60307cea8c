// Files dropped on the list.
#include <QDragMoveEvent>

#include "ui/uFrmMain.h"

void TFrmMain::vstFilesDragOver(QDragMoveEvent* Event) { Event->acceptProposedAction(); }

void TFrmMain::vstFilesDragDrop(QDropEvent*) {}
