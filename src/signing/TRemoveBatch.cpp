#include "signing/TRemoveBatch.h"

#include <QCoreApplication>
#include <QPointer>

#include <cstdio>

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

std::string TRemoveBatch::Summary(int Processed, int Succeeded) const {
  char Text[160];
  std::snprintf(Text, sizeof Text, "共有%d个操作文件，删除成功%d个；失败%d个", Processed, Succeeded,
                Processed - Succeeded);
  return Text;
}
