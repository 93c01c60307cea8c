#include "signing/TRestampBatch.h"

#include "common/uPubFunc.h"
#include "signing/TimestampCommand.h"

void TRestampBatch::Prepare(std::vector<TRowId> Rows, std::string TimeStamp, bool Rfc3161) {
  ChooseRows(std::move(Rows));
  FTimeStamp = std::move(TimeStamp);
  FRfc3161 = Rfc3161;
}

TChosenRowsBatch::TRowWork TRestampBatch::WorkFor(const std::string& FileName) const {
  return [FileName, TimeStamp = FTimeStamp, Rfc3161 = FRfc3161]() -> TRowResult {
    const std::string ShortPath = ShortPathOf(FileName);
    TSignOutcome Outcome = MissingFileOutcome(FileName);
    if (!ShortPath.empty()) {
      std::string ErrorText;
      const bool Clean = RunAndCapture(TimestampCommandLine(TimeStamp, Rfc3161, ShortPath), ErrorText);
      Outcome = ClassifyTimestampRun(Clean, ErrorText);
    }
    return {Outcome.Status, std::move(Outcome.Info), Outcome.Succeeded};
  };
}

TBatchSummary TRestampBatch::Summary(const TBatchTally& Tally) const {
  return {tr("共有%1个操作文件，加盖时间戳成功%2个；失败%3个")
              .arg(Tally.Processed)
              .arg(Tally.Succeeded)
              .arg(Tally.Processed - Tally.Succeeded)
              .toStdString(),
          Tally.Processed == Tally.Succeeded ? pkInfo : pkWarning};
}
