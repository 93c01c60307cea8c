#include "signing/TVerifyBatch.h"

#include <QThread>

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

TVerifyBatch::TVerifyBatch(TFileListModel* Files, std::vector<TRow> Rows, std::string ExtraTrustFile, QObject* Owner)
    : QObject(Owner), FFiles(Files), FRows(std::move(Rows)), FExtraTrustFile(std::move(ExtraTrustFile)) {}

TVerifyBatch::~TVerifyBatch() {
  FStopRequested = true;
  if (FWorker) FWorker->wait();
}

void TVerifyBatch::Start() {
  FWorker.reset(QThread::create([this] { Run(); }));
  FWorker->start();
  if (!FWorker->isRunning() && !FWorker->isFinished()) {
    FWorker.reset();
    throw std::runtime_error("Thread creation error: the system refused a new thread");
  }
}

void TVerifyBatch::Run() {
  int Succeeded = 0;
  for (const TRow& Row : FRows) {
    if (FStopRequested) return;
    QMetaObject::invokeMethod(this, [this, Id = Row.Id] { emit RowStarted(Id); }, Qt::QueuedConnection);
    const TVerifyResult Result = VerifySignature(Row.FileName, FExtraTrustFile, TranslatedText);
    const TFileStatus Status = VerifyRowStatus(Result.State);
    if (Status != fsFailed) ++Succeeded;
    // Runs on the window's thread; dropped if the batch is gone by then.
    QMetaObject::invokeMethod(this, [this, Id = Row.Id, Status, Message = Result.Message] {
      if (FFiles) FFiles->SetResult(Id, Status, Message);
      emit RowFinished(Id);
    }, Qt::QueuedConnection);
  }
  if (FStopRequested) return;
  QMetaObject::invokeMethod(this, [this, Total = static_cast<int>(FRows.size()), Succeeded] {
    emit Finished(Total, Succeeded);
  }, Qt::QueuedConnection);
}
