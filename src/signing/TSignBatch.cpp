#include "signing/TSignBatch.h"

#include "signing/TSignThread.h"

TSignBatch::TSignBatch(TFileListModel* Files, TSettingsReader ReadSettings, QObject* Parent)
    : TFileBatch(Files, Parent), FReadSettings(std::move(ReadSettings)) {}

// The worker goes first, while what its queued trips refer to still exists.
TSignBatch::~TSignBatch() { delete FWorker; }

void TSignBatch::Begin() {
  auto* Worker = new TSignThread(
      [this](std::vector<TSignThread::TDone> Finished, int Wanted) {
        for (const TSignThread::TDone& Done : Finished)
          RowDone(Done.Row, Done.Outcome.Status, Done.Outcome.Info, Done.Outcome.Succeeded);
        std::vector<TSignThread::TJob> Jobs;
        while (static_cast<int>(Jobs.size()) < Wanted) {
          const std::optional<TRowId> Row = BeginNextRow();
          if (!Row) break;
          Jobs.push_back({*Row, Files()->FileName(*Row), FReadSettings()});
        }
        return Jobs;
      },
      FParallelism, this);
  connect(Worker, &QThread::finished, this, [this, Worker] {
    Worker->deleteLater();
    Complete();
  });
  try {
    Worker->Start();
  } catch (...) {
    delete Worker;
    throw;
  }
  FWorker = Worker;
}

std::string TSignBatch::Summary(int Processed, int Succeeded) const {
  return tr("共有%1个操作文件，签名成功%2个；失败%3个").arg(Processed).arg(Succeeded).arg(Processed - Succeeded).toStdString();
}
