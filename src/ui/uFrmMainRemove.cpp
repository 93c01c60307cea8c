// Remove: the removal batch.
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>


#include "common/uPubFunc.h"
#include "ui/TFileListView.h"
#include "ui/TWorkingRowFollower.h"
#include "ui/uFrmMain.h"

namespace {
// Notices the window being closed while the batch lets it process its messages.
class TCloseWatcher : public QObject {
 public:
  explicit TCloseWatcher(QObject* Window) { Window->installEventFilter(this); }
  bool CloseRequested() const { return Closed; }

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == QEvent::Close) Closed = true;
    return QObject::eventFilter(Watched, Event);
  }

 private:
  bool Closed = false;
};

// Start and Remove stay disabled while the batch runs and come back however it ends.
class TButtonsDisabled {
 public:
  TButtonsDisabled(QPushButton* Start, QPushButton* Remove) : Start(Start), Remove(Remove) {
    Remove->setEnabled(false);
    Start->setEnabled(false);
  }
  ~TButtonsDisabled() {
    if (Remove) Remove->setEnabled(true);
    if (Start) Start->setEnabled(true);
  }
  TButtonsDisabled(const TButtonsDisabled&) = delete;
  TButtonsDisabled& operator=(const TButtonsDisabled&) = delete;

 private:
  QPointer<QPushButton> Start;
  QPointer<QPushButton> Remove;
};

std::string RemovalSummary(int Total, int Succeeded) {
  return QCoreApplication::translate("TFrmMain", "共有%1个操作文件，删除成功%2个；失败%3个")
      .arg(Total)
      .arg(Succeeded)
      .arg(Total - Succeeded)
      .toStdString();
}
}  // namespace

void TFrmMain::btnDelSignClick() {
  // Either batch disables both buttons, so a call arriving meanwhile must not start another one
  // over the same files.
  if (!btnDelSign->isEnabled() || !btnAddSign->isEnabled()) return;

  const QPointer<TFrmMain> Window(this);
  const TButtonsDisabled Buttons(btnAddSign, btnDelSign);
  TCloseWatcher Watcher(this);
  TFileListModel* Files = vstFiles->Files();
  TWorkingRowFollower* Follower = FWorkFollower;
  Follower->BatchStarted();
  const auto EndFollowing = qScopeGuard([Follower, Window] {
    if (Window) Follower->BatchEnded();
  });
  int Total = 0;
  int Succeeded = 0;
  // Rows are found by their stable id, so rows deleted or dropped while messages are processed
  // do not disturb the walk; dropped rows are stripped in this batch too.
  for (auto Id = Files->First(); Id; Id = Files->Next(*Id)) {
    const std::string FileName = Files->FileName(*Id);
    Follower->RowStarted(*Id);
    std::string ErrorText;
    if (StripSignature(FileName, ErrorText)) {
      Files->SetResult(*Id, fsOk, "");
      ++Succeeded;
    } else {
      Files->SetResult(*Id, fsFailed, ErrorText);
    }
    Follower->RowFinished(*Id);
    ++Total;
    QCoreApplication::processEvents();
    if (!Window || Watcher.CloseRequested()) return;
  }
  ShowPrompt(RemovalSummary(Total, Succeeded), "", pkInfo);
}
