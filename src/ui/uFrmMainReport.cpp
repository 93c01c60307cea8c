// The report of the last signing batch, for release records: the pop-up menu's 导出报告.
#include <QAction>

#include <algorithm>

#include "common/BatchReport.h"
#include "common/SafeFileWrite.h"
#include "common/uPubFunc.h"
#include "signing/TSignBatch.h"
#include "ui/FileDialogs.h"
#include "ui/uFrmMain.h"

void TFrmMain::ShowReportEntry() { pmiExportReport->setEnabled(pmiVerify->isEnabled() && !FSignBatch->Report().empty()); }

void TFrmMain::pmiExportReportClick() {
  const std::vector<TReportEntry> Entries = FSignBatch->Report();
  if (Entries.empty()) return;
  const std::optional<QString> Path = AskSaveFileName(this, tr("JSON报告 (*.json)"), "signing-report.json");
  if (!Path) return;
  // One key signs a whole batch: the first file it signed names it.
  const auto Signed = std::find_if(Entries.begin(), Entries.end(), [](const TReportEntry& E) { return !E.Signer.empty(); });
  try {
    WriteBatchReport(Path->toStdString(), Signed == Entries.end() ? std::string() : Signed->Signer,
                     Signed == Entries.end() ? std::string() : Signed->Thumbprint, Entries);
  } catch (const TReplaceError& Error) {
    ShowPrompt(tr("无法写入报告%1：%2").arg(*Path, QString::fromLocal8Bit(Error.what())).toStdString(), "", pkError);
  }
}
