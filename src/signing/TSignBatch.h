#pragma once
// The signing batch: every row of the list through signtool.exe on a worker thread, up to a set
// number of files at a time, each with the window's settings as they are when its turn comes,
// all with the one key session the batch was given (its certificate stands for the window's).
// Once a token has refused the PIN no further file is begun: the rows still to come fail.
#include <QPointer>

#include <functional>
#include <memory>

#include "filelist/TFileBatch.h"
#include "signing/SignCommand.h"

class TSignThread;
struct TKeySession;

class TSignBatch : public TFileBatch {
  Q_OBJECT

 public:
  using TSettingsReader = std::function<TSignSettings()>;

  // ReadSettings runs on the window's thread as each file begins.
  TSignBatch(TFileListModel* Files, TSettingsReader ReadSettings, QObject* Parent);
  ~TSignBatch() override;

  // Files signed at once by the batches started from now on, at least 1.
  void SetParallelism(int Count) { FParallelism = Count < 1 ? 1 : Count; }
  // The key the next batch signs with; required before Start. The batch ends the session when
  // it ends (also when it is stopped or destroyed), after the last run has finished with it.
  void SetKeySession(std::unique_ptr<TKeySession> Session);

 protected:
  void Begin() override;
  TBatchSummary Summary(const TBatchTally& Tally) const override;

 private:
  // What the rows not begun and the summary say once the token has refused the PIN.
  static std::string RefusalReason(TPinRefusal Refusal);

  TSettingsReader FReadSettings;
  int FParallelism = 1;
  std::unique_ptr<TKeySession> FSession;
  QPointer<TSignThread> FWorker;
};
