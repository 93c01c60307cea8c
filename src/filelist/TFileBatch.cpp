#include "filelist/TFileBatch.h"

namespace {
// Below this the rate seen so far says too little about the rest.
constexpr qint64 EstimateAfterMs = 3000;
}  // namespace

TFileBatch::TFileBatch(TFileListModel* Files, QObject* Parent) : QObject(Parent), FFiles(Files) {}

void TFileBatch::Start() {
  FRunning = true;
  FStopRequested = false;
  FEndReason.clear();
  FLastBegun.reset();
  FUnderWay = 0;
  FTally = {};
  FClock.start();
  try {
    Begin();
  } catch (...) {
    FRunning = false;
    throw;
  }
}

void TFileBatch::Stop() {
  if (!FRunning || FStopRequested) return;
  FStopRequested = true;
  Halt();
}

std::vector<TRowId> TFileBatch::StopFailingTheRest(const std::string& Reason) {
  std::vector<TRowId> Failed;
  if (!FRunning || FStopRequested) return Failed;
  FEndReason = Reason;
  while (const std::optional<TRowId> Row = RowAfter(FLastBegun)) {
    FLastBegun = Row;
    FFiles->SetResult(*Row, fsFailed, Reason);
    ++FTally.Processed;
    Failed.push_back(*Row);
  }
  Stop();
  emit ProgressChanged();
  return Failed;
}

TFileBatch::TProgress TFileBatch::Progress() const {
  TProgress Result;
  Result.Done = FTally.Processed;
  Result.Total = FTally.Processed + FUnderWay + (FStopRequested ? 0 : RowsAfter(FLastBegun));
  const qint64 Elapsed = FClock.isValid() ? FClock.elapsed() : 0;
  if (FTally.Processed > 0 && Elapsed >= EstimateAfterMs) {
    const double PerRow = static_cast<double>(Elapsed) / FTally.Processed;
    Result.SecondsLeft = static_cast<int>((Result.Total - Result.Done) * PerRow / 1000.0 + 0.5);
  }
  return Result;
}

std::optional<TRowId> TFileBatch::RowAfter(const std::optional<TRowId>& Last) const {
  return Last ? FFiles->Next(*Last) : FFiles->First();
}

int TFileBatch::RowsAfter(const std::optional<TRowId>& Last) const {
  const std::optional<TRowId> Following = RowAfter(Last);
  return Following ? FFiles->Count() - FFiles->RowOf(*Following) : 0;
}

std::optional<TRowId> TFileBatch::BeginNextRow() {
  // Looked up only now: rows dropped meanwhile are found, deleted ones passed over.
  const std::optional<TRowId> Row = UpcomingRow();
  if (!Row) return std::nullopt;
  FLastBegun = Row;
  ++FUnderWay;
  emit RowStarted(*Row);
  emit ProgressChanged();
  return Row;
}

std::optional<TRowId> TFileBatch::UpcomingRow() const {
  if (FStopRequested) return std::nullopt;
  return RowAfter(FLastBegun);
}

void TFileBatch::RowDone(TRowId Row, TFileStatus Status, std::string_view Info, bool Succeeded) {
  FFiles->SetResult(Row, Status, Info);
  --FUnderWay;
  ++FTally.Processed;
  if (Succeeded) ++FTally.Succeeded;
  if (Status == fsWarning) ++FTally.Warned;
  emit RowFinished(Row);
  emit ProgressChanged();
}

void TFileBatch::Complete() {
  FRunning = false;
  TBatchSummary Closing = Summary(FTally);
  if (!FEndReason.empty()) Closing.Text += "\n" + FEndReason;
  emit Finished(Closing);
}
