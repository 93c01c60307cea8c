#include "signing/TRemoveBatch.h"

#include <QCoreApplication>
#include <QPointer>

#include "common/uPubFunc.h"

void TRemoveBatch::Begin() {
  const QPointer<TRemoveBatch> Alive(this);
  while (const std::optional<TRowId> Row = BeginNextRow()) {
    std::string ErrorText;
    const bool Stripped = StripSignature(Files()->FileName(*Row), ErrorText);
    RowDone(*Row, Stripped ? fsOk : fsFailed, Stripped ? std::string() : ErrorText, Stripped);
    QCoreApplication::processEvents();
    if (!Alive) return;  // the window, and this batch with it, went away meanwhile
  }
  Complete();
}

TBatchSummary TRemoveBatch::Summary(const TBatchTally& Tally) const {
  return {Tally.Text(tr("共有%1个操作文件，删除成功%2个；失败%3个")).toStdString(), pkInfo};
}
