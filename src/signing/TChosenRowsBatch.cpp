#include "signing/TChosenRowsBatch.h"

#include <stdexcept>

TChosenRowsBatch::~TChosenRowsBatch() { EndWorker(); }

void TChosenRowsBatch::ChooseRows(std::vector<TRowId> Rows) {
  FRows = std::move(Rows);
  FPlaces.clear();
  for (std::size_t Place = 0; Place < FRows.size(); ++Place) FPlaces.emplace(FRows[Place], Place);
}

void TChosenRowsBatch::Begin() {
  FThread = std::make_unique<QThread>();
  FThread->start();
  if (!FThread->isRunning() && !FThread->isFinished()) {
    FThread.reset();
    throw std::runtime_error("Thread creation error: the system refused a new thread");
  }
  FWorker = std::make_unique<QObject>();
  FWorker->moveToThread(FThread.get());
  WorkOnNext();
}

void TChosenRowsBatch::WorkOnNext() {
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
      [this, Row = *Row, Work = WorkFor(Files()->FileName(*Row))] {
        const TRowResult Result = Work();
        QMetaObject::invokeMethod(
            this,
            [this, Row, Result] {
              RowDone(Row, Result.Status, Result.Info, Result.Succeeded);
              WorkOnNext();
            },
            Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void TChosenRowsBatch::EndWorker() {
  if (!FThread) return;
  FThread->quit();
  FThread->wait();
  FWorker.reset();
  FThread.reset();
}

std::size_t TChosenRowsBatch::PlaceAfter(const std::optional<TRowId>& Last) const {
  if (!Last) return 0;
  const auto Place = FPlaces.find(*Last);
  return Place == FPlaces.end() ? FRows.size() : Place->second + 1;
}

std::optional<TRowId> TChosenRowsBatch::RowAfter(const std::optional<TRowId>& Last) const {
  for (std::size_t Place = PlaceAfter(Last); Place < FRows.size(); ++Place)
    if (Files()->RowOf(FRows[Place]) >= 0) return FRows[Place];
  return std::nullopt;
}

int TChosenRowsBatch::RowsAfter(const std::optional<TRowId>& Last) const {
  int Count = 0;
  for (std::size_t Place = PlaceAfter(Last); Place < FRows.size(); ++Place)
    if (Files()->RowOf(FRows[Place]) >= 0) ++Count;
  return Count;
}
