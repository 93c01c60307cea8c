#pragma once
// The verification batch: checks the signatures of the rows it is given, one file after another
// on a worker thread.
#include "authenticode/VerifySignature.h"
#include "signing/TChosenRowsBatch.h"

// The row status a verdict shows: valid → success, a weaker but intact signature → warning,
// everything else → failure.
TFileStatus VerifyRowStatus(TVerifyState State);
// Whether the summary counts a verdict as verified: a valid signature, with or without a
// timestamp. An untrusted one shows a warning in its row, yet vouches for nothing.
bool CountsAsVerified(TVerifyState State);

class TVerifyBatch : public TChosenRowsBatch {
  Q_OBJECT

 public:
  using TChosenRowsBatch::TChosenRowsBatch;

  // What the next batch verifies: Rows in this order, trusting ExtraTrustFile's certificates too.
  void Prepare(std::vector<TRowId> Rows, std::string ExtraTrustFile);

 protected:
  TRowWork WorkFor(const std::string& FileName) const override;
  TBatchSummary Summary(const TBatchTally& Tally) const override;

 private:
  std::string FExtraTrustFile;
};
