#pragma once
// The batch that adds a timestamp to files signed without one: signtool.exe's timestamp command
// for each chosen row, one file after another on a worker thread.
#include "signing/TChosenRowsBatch.h"

class TRestampBatch : public TChosenRowsBatch {
  Q_OBJECT

 public:
  using TChosenRowsBatch::TChosenRowsBatch;

  // What the next batch stamps: Rows in this order, from the servers TimeStamp names (as the
  // timestamp box holds them), by RFC 3161 or the older protocol.
  void Prepare(std::vector<TRowId> Rows, std::string TimeStamp, bool Rfc3161);

 protected:
  TRowWork WorkFor(const std::string& FileName) const override;
  TBatchSummary Summary(const TBatchTally& Tally) const override;

 private:
  std::string FTimeStamp;
  bool FRfc3161 = false;
};
