#pragma once
// A batch that walks the rows of the file list and gives each its result: signing, removal,
// verification. The window starts it, may ask it to stop, and shows what it reports; how a row
// is worked on is the subclass's business. All of this object's calls and signals belong to the
// window's thread.
#include <QElapsedTimer>
#include <QObject>

#include <optional>
#include <string>
#include <string_view>

#include "filelist/TFileListModel.h"

class TFileBatch : public QObject {
  Q_OBJECT

 public:
  struct TProgress {
    int Done = 0;
    int Total = 0;                         // done, under way and still to come, as the list is now
    std::optional<int> SecondsLeft;        // once the batch has run long enough to tell
  };

  TFileBatch(TFileListModel* Files, QObject* Parent);

  // Begins the batch. Throws when it cannot begin; the batch then counts as never started.
  void Start();
  // No further row is begun; rows under way end, then Finished follows without a summary.
  void Stop();
  bool IsRunning() const { return FRunning; }
  bool StopRequested() const { return FStopRequested; }

  TProgress Progress() const;

 signals:
  void ProgressChanged();
  // A row is taken up, and has its result written.
  void RowStarted(TRowId Row);
  void RowFinished(TRowId Row);
  // Summary is empty when the batch was stopped.
  void Finished(const std::string& Summary);

 protected:
  // The subclass's start; throws when it cannot begin.
  virtual void Begin() = 0;
  // Called once when Stop is first asked for while the batch runs.
  virtual void Halt() {}
  // The summary for Processed rows of which Succeeded went well.
  virtual std::string Summary(int Processed, int Succeeded) const = 0;

  TFileListModel* Files() const { return FFiles; }
  // The row to take up after Last (the first row when none), and how many rows would follow
  // Last. By default every row of the list in order, as the list is when asked.
  virtual std::optional<TRowId> RowAfter(const std::optional<TRowId>& Last) const;
  virtual int RowsAfter(const std::optional<TRowId>& Last) const;
  // The row after the last one begun (the first row at the start); records it as begun.
  std::optional<TRowId> BeginNextRow();
  // Writes a begun row's result (nothing when the row is gone meanwhile) and counts it.
  void RowDone(TRowId Row, TFileStatus Status, std::string_view Info, bool Succeeded);
  // Every begun row is done and no further one will be begun.
  void Complete();

 private:
  TFileListModel* FFiles;
  bool FRunning = false;
  bool FStopRequested = false;
  std::optional<TRowId> FLastBegun;
  int FUnderWay = 0;
  int FProcessed = 0;
  int FSucceeded = 0;
  QElapsedTimer FClock;
};
