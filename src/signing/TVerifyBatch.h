#pragma once
// The verification batch: checks the signatures of a fixed set of rows on a worker thread, one
// file after another, and writes each row's verdict on the window's thread as soon as it is
// known. Rows are followed by id, so a row deleted meanwhile is simply not written.
#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "common/VerifySignature.h"
#include "filelist/TFileListModel.h"

class QThread;

// The row status a verdict shows: valid → success, a weaker but intact signature → warning,
// everything else → failure.
TFileStatus VerifyRowStatus(TVerifyState State);

class TVerifyBatch : public QObject {
  Q_OBJECT

 public:
  struct TRow {
    TRowId Id;
    std::string FileName;
  };

  // Owner lives on the window's thread; the batch is its child.
  TVerifyBatch(TFileListModel* Files, std::vector<TRow> Rows, std::string ExtraTrustFile, QObject* Owner);
  // Stops after the current file and waits for the worker.
  ~TVerifyBatch() override;

  // Throws std::runtime_error("Thread creation error: <cause>") when no thread can be made.
  void Start();
  // The batch ends after the current file, without Finished.
  void RequestStop() { FStopRequested = true; }

 signals:
  // On the window's thread: the worker takes up a row, and the row shows its verdict.
  void RowStarted(TRowId Row);
  void RowFinished(TRowId Row);
  // On the window's thread, after the last row's result. Succeeded counts warnings too.
  void Finished(int Total, int Succeeded);

 private:
  void Run();

  QPointer<TFileListModel> FFiles;
  std::vector<TRow> FRows;
  std::string FExtraTrustFile;
  std::unique_ptr<QThread> FWorker;
  std::atomic<bool> FStopRequested{false};
};
