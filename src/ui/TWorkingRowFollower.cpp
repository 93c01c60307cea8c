#include "ui/TWorkingRowFollower.h"

#include <QScrollBar>

#include "ui/TFileListView.h"

TWorkingRowFollower::TWorkingRowFollower(TFileListView* View) : QObject(View), View(View) {
  connect(View, &TFileListView::ScrolledByUser, this, [this] { Following = false; });
}

void TWorkingRowFollower::BatchStarted() {
  InFlight.clear();
  Following = true;
}

void TWorkingRowFollower::RowStarted(TRowId Row) {
  InFlight.insert(Row);
  Follow();
}

void TWorkingRowFollower::RowFinished(TRowId Row) {
  InFlight.erase(Row);
  Follow();
}

void TWorkingRowFollower::BatchEnded() {
  InFlight.clear();
  Following = false;
}

void TWorkingRowFollower::Follow() {
  if (!Following) return;
  const TFileListModel* Files = View->Files();
  for (const TRowId Id : InFlight) {
    const int Row = Files->RowOf(Id);
    if (Row < 0) continue;  // deleted while being worked on
    // Only up and down: a list the user scrolled sideways stays so.
    QScrollBar* Sideways = View->horizontalScrollBar();
    const int Across = Sideways->value();
    View->scrollTo(Files->index(Row, 0), QAbstractItemView::EnsureVisible);
    Sideways->setValue(Across);
    return;
  }
}
