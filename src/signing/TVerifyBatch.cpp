#include "signing/TVerifyBatch.h"

#include "filelist/TranslatedText.h"

TFileStatus VerifyRowStatus(TVerifyState State) {
  switch (State) {
    case vsValid: return fsOk;
    case vsValidNoTimestamp:
    case vsUntrusted: return fsWarning;
    case vsUnsigned:
    case vsTampered:
    case vsExpired:
    case vsUnsupported:
    case vsUnreadable: break;
  }
  return fsFailed;
}

bool CountsAsVerified(TVerifyState State) { return State == vsValid || State == vsValidNoTimestamp; }

void TVerifyBatch::Prepare(std::vector<TRowId> Rows, std::string ExtraTrustFile) {
  ChooseRows(std::move(Rows));
  FExtraTrustFile = std::move(ExtraTrustFile);
}

TChosenRowsBatch::TRowWork TVerifyBatch::WorkFor(const std::string& FileName) const {
  return [FileName, TrustFile = FExtraTrustFile]() -> TRowResult {
    // Whatever goes wrong ends as the row's failure, never as the window's end.
    try {
      const TVerifyResult Result = VerifySignature(FileName, TrustFile, TranslatedText);
      return {VerifyRowStatus(Result.State), Result.Message, CountsAsVerified(Result.State)};
    } catch (...) {
      return {fsFailed, tr("验证时出错").toStdString(), false};
    }
  };
}

TBatchSummary TVerifyBatch::Summary(const TBatchTally& Tally) const {
  return {Tally.Text(tr("共有%1个操作文件，验证成功%2个；失败%3个")).toStdString(),
          Tally.Processed == Tally.Succeeded ? pkInfo : pkWarning};
}
