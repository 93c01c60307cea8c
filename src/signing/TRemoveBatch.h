#pragma once
// The removal batch: strips the signature of every row's file, one after another on the window's
// thread, letting the window handle its messages between files so that rows repaint, drops
// arrive and the window can be closed.
#include "filelist/TFileBatch.h"

class TRemoveBatch : public TFileBatch {
  Q_OBJECT

 public:
  using TFileBatch::TFileBatch;

 protected:
  // Returns once the batch has finished. A file that cannot be written back ends the batch at
  // its row with StripSignature's exception: that row keeps its result, no summary follows.
  void Begin() override;
  TBatchSummary Summary(const TBatchTally& Tally) const override;
};
