#pragma once
// The signing batch: every row of the list through signtool.exe on a worker thread, up to a set
// number of files at a time, each with the window's settings as they are when its turn comes,
// all with the one key session the batch was given (its certificate stands for the window's).
// Its runs share one timestamp pace per host (BatchPace.h).
// Once a token has refused the PIN no further file is begun: the rows still to come fail.
#include <QPointer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "filelist/TFileBatch.h"
#include "common/BatchReport.h"
#include "signing/SignCommand.h"

class TBatchPace;
class TRunReports;
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
  // How the batches started from now on ask for timestamps: RFC 3161 rather than the older
  // protocol, and the least time between two requests to one host.
  void SetTimestampOptions(bool Rfc3161, std::chrono::milliseconds Interval) {
    FRfc3161 = Rfc3161;
    FTimestampInterval = Interval;
  }

  // What the last batch did to each of its files, in list order, as signtool.exe's /report gives
  // it: the rows deleted since are still in it. Empty before the first batch and while one runs.
  std::vector<TReportEntry> Report() const;

 protected:
  void Begin() override;
  TBatchSummary Summary(const TBatchTally& Tally) const override;

 private:
  // What the rows not begun and the summary say once the token has refused the PIN.
  static std::string RefusalReason(TPinRefusal Refusal);

  TSettingsReader FReadSettings;
  int FParallelism = 1;
  std::unique_ptr<TKeySession> FSession;
  bool FRfc3161 = false;
  std::chrono::milliseconds FTimestampInterval{0};
  std::unique_ptr<TBatchPace> FPace;  // the running batch's
  std::unique_ptr<TRunReports> FRunReports;  // the running batch's
  std::map<TRowId, TReportEntry> FReport;    // ids grow along the list
  QPointer<TSignThread> FWorker;
};
