#include "signing/TSignBatch.h"

#include <stdexcept>

#include "signing/BatchPace.h"
#include "signing/KeySession.h"
#include "signing/RunReports.h"
#include "signing/TSignThread.h"

TSignBatch::TSignBatch(TFileListModel* Files, TSettingsReader ReadSettings, QObject* Parent)
    : TFileBatch(Files, Parent), FReadSettings(std::move(ReadSettings)) {}

// The worker goes first, while what its queued trips and its runs refer to still exists.
TSignBatch::~TSignBatch() { delete FWorker; }

void TSignBatch::SetKeySession(std::unique_ptr<TKeySession> Session) { FSession = std::move(Session); }

void TSignBatch::Begin() {
  if (!FSession) throw std::logic_error("A signing batch was started without a key session.");
  FPace = std::make_unique<TBatchPace>(FTimestampInterval);
  FRunReports = std::make_unique<TRunReports>();
  FReport.clear();
  TSignThread::TEnvironment RunEnvironment = FSession->RunEnvironment();
  for (auto& Variable : FPace->RunEnvironment()) RunEnvironment.push_back(std::move(Variable));
  for (auto& Variable : FRunReports->RunEnvironment()) RunEnvironment.push_back(std::move(Variable));
  auto* Worker = new TSignThread(
      [this](std::vector<TSignThread::TDone> Finished, int Wanted) {
        for (const TSignThread::TDone& Done : Finished) {
          RowDone(Done.Row, Done.Outcome.Status, Done.Outcome.Info, Done.Outcome.Succeeded);
          if (Done.Outcome.Report) FReport[Done.Row] = *Done.Outcome.Report;
          // Every further file would present the PIN again, and a token locks itself after a few.
          if (Done.Outcome.PinRefusal != TPinRefusal::None) {
            const std::string Reason = RefusalReason(Done.Outcome.PinRefusal);
            for (const TRowId Row : StopFailingTheRest(Reason))
              FReport[Row] = UnreportedEntry(Files()->FileName(Row), {fsFailed, Reason, false});
          }
        }
        const auto JobFor = [this](TRowId Row) {
          TSignSettings Settings = FReadSettings();
          Settings.CertFile = FSession->Certificate;
          Settings.Rfc3161 = FRfc3161;
          return TSignThread::TJob{Row, Files()->FileName(Row), std::move(Settings), FRunReports->PathFor(Row)};
        };
        TSignThread::TTrip Trip;
        while (static_cast<int>(Trip.Begun.size()) < Wanted) {
          const std::optional<TRowId> Row = BeginNextRow();
          if (!Row) break;
          Trip.Begun.push_back(JobFor(*Row));
        }
        if (const std::optional<TRowId> Row = UpcomingRow()) Trip.Upcoming = JobFor(*Row);
        return Trip;
      },
      FParallelism, std::move(RunEnvironment), this);
  connect(Worker, &QThread::finished, this, [this, Worker] {
    Worker->deleteLater();
    FSession.reset();
    FPace.reset();
    FRunReports.reset();
    Complete();
  });
  try {
    Worker->Start();
  } catch (...) {
    delete Worker;
    FSession.reset();
    FPace.reset();
    FRunReports.reset();
    throw;
  }
  FWorker = Worker;
}

std::string TSignBatch::RefusalReason(TPinRefusal Refusal) {
  if (Refusal == TPinRefusal::Locked) return tr("令牌的PIN码已被锁定，本批不再用该密钥签名文件").toStdString();
  return tr("令牌拒绝了PIN码，本批不再用该密钥签名文件").toStdString();
}

TBatchSummary TSignBatch::Summary(const TBatchTally& Tally) const {
  QString Text = Tally.Text(tr("共有%1个操作文件，签名成功%2个；失败%3个"));
  // Warnings count as successes above, yet such a file carries no timestamp: its signature ends
  // with its certificate's validity.
  if (Tally.Warned == 0) return {Text.toStdString(), pkInfo};
  Text += '\n' + tr("其中%1个文件签名时出现警告（没有时间戳），请查看列表中的提示。").arg(Tally.Warned);
  return {Text.toStdString(), pkWarning};
}

std::vector<TReportEntry> TSignBatch::Report() const {
  std::vector<TReportEntry> Entries;
  if (IsRunning()) return Entries;
  for (const auto& [Row, Entry] : FReport) Entries.push_back(Entry);
  return Entries;
}
