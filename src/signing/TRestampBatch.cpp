#include "signing/TRestampBatch.h"

#include "common/uPubFunc.h"
#include "signing/BatchPace.h"
#include "signing/TimestampCommand.h"

TRestampBatch::TRestampBatch(TFileListModel* Files, QObject* Parent) : TChosenRowsBatch(Files, Parent) {
  connect(this, &TFileBatch::Finished, this, [this] { FPace.reset(); });
}

TRestampBatch::~TRestampBatch() = default;

void TRestampBatch::Prepare(std::vector<TRowId> Rows, std::string TimeStamp, bool Rfc3161,
                            std::chrono::milliseconds Interval) {
  ChooseRows(std::move(Rows));
  FTimeStamp = std::move(TimeStamp);
  FRfc3161 = Rfc3161;
  FInterval = Interval;
}

void TRestampBatch::Begin() {
  FPace = std::make_unique<TBatchPace>(FInterval);
  TChosenRowsBatch::Begin();
}

TChosenRowsBatch::TRowWork TRestampBatch::WorkFor(const std::string& FileName) const {
  return [FileName, TimeStamp = FTimeStamp, Rfc3161 = FRfc3161, Environment = FPace->RunEnvironment()]() -> TRowResult {
    const std::string ShortPath = ShortPathOf(FileName);
    TSignOutcome Outcome = MissingFileOutcome(FileName);
    if (!ShortPath.empty()) {
      std::string ErrorText;
      const bool Clean = RunAndCapture(TimestampCommandLine(TimeStamp, Rfc3161, ShortPath), Environment, ErrorText);
      Outcome = ClassifyTimestampRun(Clean, ErrorText);
    }
    return {Outcome.Status, std::move(Outcome.Info), Outcome.Succeeded};
  };
}

TBatchSummary TRestampBatch::Summary(const TBatchTally& Tally) const {
  return {Tally.Text(tr("共有%1个操作文件，加盖时间戳成功%2个；失败%3个")).toStdString(),
          Tally.Processed == Tally.Succeeded ? pkInfo : pkWarning};
}
