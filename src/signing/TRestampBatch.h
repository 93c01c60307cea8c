#pragma once
// The batch that adds a timestamp to files signed without one: signtool.exe's timestamp command
// for each chosen row, one file after another on a worker thread. Its runs share one timestamp
// pace and server order (BatchPace.h), as a signing batch's do.
#include <chrono>
#include <memory>

#include "signing/TChosenRowsBatch.h"

class TBatchPace;

class TRestampBatch : public TChosenRowsBatch {
  Q_OBJECT

 public:
  TRestampBatch(TFileListModel* Files, QObject* Parent);
  ~TRestampBatch() override;

  // What the next batch stamps: Rows in this order, from the servers TimeStamp names (as the
  // timestamp box holds them), by RFC 3161 or the older protocol, with at least Interval between
  // two requests to one host.
  void Prepare(std::vector<TRowId> Rows, std::string TimeStamp, bool Rfc3161, std::chrono::milliseconds Interval);

 protected:
  void Begin() override;
  TRowWork WorkFor(const std::string& FileName) const override;
  TBatchSummary Summary(const TBatchTally& Tally) const override;

 private:
  std::string FTimeStamp;
  bool FRfc3161 = false;
  std::chrono::milliseconds FInterval{0};
  std::unique_ptr<TBatchPace> FPace;  // the running batch's
};
