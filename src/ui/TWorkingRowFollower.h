#pragma once
// Keeps the work of a batch in sight: while a batch runs, the first of the rows being worked on
// is scrolled into view whenever the rows being worked on change, until the user moves the
// list's view. When the batch ends the view stays where it is.
#include <QObject>
#include <set>

#include "filelist/TFileListModel.h"

class TFileListView;

class TWorkingRowFollower : public QObject {
 public:
  explicit TWorkingRowFollower(TFileListView* View);

  void BatchStarted();
  void RowStarted(TRowId Row);
  void RowFinished(TRowId Row);
  void BatchEnded();

 private:
  void Follow();

  TFileListView* View;
  std::set<TRowId> InFlight;  // ids grow along the list, so the first is the topmost row
  bool Following = false;
};
