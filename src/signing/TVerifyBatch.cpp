#include "signing/TVerifyBatch.h"

#include <stdexcept>

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

namespace {
// Whatever goes wrong on the worker ends as the row's failure, never as the window's end.
TVerifyResult VerifyOnWorker(const std::string& FileName, const std::string& TrustFile) {
  try {
    return VerifySignature(FileName, TrustFile, TranslatedText);
  } catch (...) {
    return {vsUnreadable, TVerifyBatch::tr("验证时出错").toStdString(), {}, {}};
  }
}
}  // namespace

TVerifyBatch::~TVerifyBatch() { EndWorker(); }

void TVerifyBatch::Prepare(std::vector<TRowId> Rows, std::string ExtraTrustFile) {
  FRows = std::move(Rows);
  FPlaces.clear();
  for (std::size_t Place = 0; Place < FRows.size(); ++Place) FPlaces.emplace(FRows[Place], Place);
  FExtraTrustFile = std::move(ExtraTrustFile);
}

void TVerifyBatch::Begin() {
  FThread = std::make_unique<QThread>();
  FThread->start();
  if (!FThread->isRunning() && !FThread->isFinished()) {
    FThread.reset();
    throw std::runtime_error("Thread creation error: the system refused a new thread");
  }
  FWorker = std::make_unique<QObject>();
  FWorker->moveToThread(FThread.get());
  VerifyNext();
}

void TVerifyBatch::VerifyNext() {
  const std::optional<TRowId> Row = BeginNextRow();
  if (!Row) {
    EndWorker();
    Complete();
    return;
  }
  // The answer is queued on this object, so it is dropped should the batch be gone by then; the
  // batch waits for the worker before it goes.
  QMetaObject::invokeMethod(
      FWorker.get(),
      [this, Row = *Row, FileName = Files()->FileName(*Row), TrustFile = FExtraTrustFile] {
        const TVerifyResult Result = VerifyOnWorker(FileName, TrustFile);
        QMetaObject::invokeMethod(
            this,
            [this, Row, Result] {
              RowDone(Row, VerifyRowStatus(Result.State), Result.Message, CountsAsVerified(Result.State));
              VerifyNext();
            },
            Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void TVerifyBatch::EndWorker() {
  if (!FThread) return;
  FThread->quit();
  FThread->wait();
  FWorker.reset();
  FThread.reset();
}

TBatchSummary TVerifyBatch::Summary(const TBatchTally& Tally) const {
  return {tr("共有%1个操作文件，验证成功%2个；失败%3个")
              .arg(Tally.Processed)
              .arg(Tally.Succeeded)
              .arg(Tally.Processed - Tally.Succeeded)
              .toStdString(),
          pkInfo};
}

std::size_t TVerifyBatch::PlaceAfter(const std::optional<TRowId>& Last) const {
  if (!Last) return 0;
  const auto Place = FPlaces.find(*Last);
  return Place == FPlaces.end() ? FRows.size() : Place->second + 1;
}

std::optional<TRowId> TVerifyBatch::RowAfter(const std::optional<TRowId>& Last) const {
  for (std::size_t Place = PlaceAfter(Last); Place < FRows.size(); ++Place)
    if (Files()->RowOf(FRows[Place]) >= 0) return FRows[Place];
  return std::nullopt;
}

int TVerifyBatch::RowsAfter(const std::optional<TRowId>& Last) const {
  int Count = 0;
  for (std::size_t Place = PlaceAfter(Last); Place < FRows.size(); ++Place)
    if (Files()->RowOf(FRows[Place]) >= 0) ++Count;
  return Count;
}
