#pragma once
// The verification batch: checks the signatures of the rows it is given, one file after another
// on a worker thread, and writes each row's verdict on the window's thread as soon as it is
// known. A row deleted meanwhile is passed over.
#include <QThread>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/VerifySignature.h"
#include "filelist/TFileBatch.h"

// The row status a verdict shows: valid → success, a weaker but intact signature → warning,
// everything else → failure.
TFileStatus VerifyRowStatus(TVerifyState State);
// Whether the summary counts a verdict as verified: a valid signature, with or without a
// timestamp. An untrusted one shows a warning in its row, yet vouches for nothing.
bool CountsAsVerified(TVerifyState State);

class TVerifyBatch : public TFileBatch {
  Q_OBJECT

 public:
  using TFileBatch::TFileBatch;
  // Waits for the file being verified.
  ~TVerifyBatch() override;

  // What the next batch verifies: Rows in this order, trusting ExtraTrustFile's certificates too.
  void Prepare(std::vector<TRowId> Rows, std::string ExtraTrustFile);

 protected:
  // Throws std::runtime_error("Thread creation error: <cause>") when no thread can be made.
  void Begin() override;
  TBatchSummary Summary(const TBatchTally& Tally) const override;
  std::optional<TRowId> RowAfter(const std::optional<TRowId>& Last) const override;
  int RowsAfter(const std::optional<TRowId>& Last) const override;

 private:
  // Sends the next row to the worker, or ends the batch.
  void VerifyNext();
  void EndWorker();
  // Where the rows after Last begin in FRows.
  std::size_t PlaceAfter(const std::optional<TRowId>& Last) const;

  std::vector<TRowId> FRows;
  std::map<TRowId, std::size_t> FPlaces;  // of each row in FRows
  std::string FExtraTrustFile;
  std::unique_ptr<QThread> FThread;
  std::unique_ptr<QObject> FWorker;  // lives on FThread
};
