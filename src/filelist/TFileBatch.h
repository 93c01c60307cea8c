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
#include <vector>

#include "common/uPubFunc.h"
#include "filelist/TFileListModel.h"

// How the rows a batch took up ended.
struct TBatchTally {
  int Processed = 0;
  int Succeeded = 0;
  int Warned = 0;  // rows that ended with a warning, whether or not they count as succeeded

  // Format with %1 the rows taken up, %2 those that succeeded and %3 those that did not.
  QString Text(const QString& Format) const { return Format.arg(Processed).arg(Succeeded).arg(Processed - Succeeded); }
};

// The closing message of a batch and the kind of box it is shown in.
struct TBatchSummary {
  std::string Text;
  TPromptKind Kind = pkInfo;
};

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
  // No further row is begun; rows under way end, then Finished follows with the summary of the
  // rows that were done.
  void Stop();
  // As Stop, but each row that would have followed fails with Reason at once, and the summary
  // ends with it. Gives those rows.
  std::vector<TRowId> StopFailingTheRest(const std::string& Reason);
  bool IsRunning() const { return FRunning; }
  bool StopRequested() const { return FStopRequested; }

  TProgress Progress() const;

 signals:
  void ProgressChanged();
  // A row is taken up, and has its result written.
  void RowStarted(TRowId Row);
  void RowFinished(TRowId Row);
  void Finished(const TBatchSummary& Summary);

 protected:
  // The subclass's start; throws when it cannot begin.
  virtual void Begin() = 0;
  // Called once when Stop is first asked for while the batch runs.
  virtual void Halt() {}
  // The summary of the rows that were done.
  virtual TBatchSummary Summary(const TBatchTally& Tally) const = 0;

  TFileListModel* Files() const { return FFiles; }
  // The row to take up after Last (the first row when none), and how many rows would follow
  // Last. By default every row of the list in order, as the list is when asked.
  virtual std::optional<TRowId> RowAfter(const std::optional<TRowId>& Last) const;
  virtual int RowsAfter(const std::optional<TRowId>& Last) const;
  // The row after the last one begun (the first row at the start); records it as begun.
  std::optional<TRowId> BeginNextRow();
  // The row BeginNextRow would give now, without beginning it.
  std::optional<TRowId> UpcomingRow() const;
  // Writes a begun row's result (nothing when the row is gone meanwhile) and counts it.
  void RowDone(TRowId Row, TFileStatus Status, std::string_view Info, bool Succeeded);
  // Every begun row is done and no further one will be begun.
  void Complete();

 private:
  TFileListModel* FFiles;
  bool FRunning = false;
  bool FStopRequested = false;
  std::string FEndReason;  // what the summary ends with
  std::optional<TRowId> FLastBegun;
  int FUnderWay = 0;
  TBatchTally FTally;
  QElapsedTimer FClock;
};
