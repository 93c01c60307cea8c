#include "signing/TSignThread.h"

#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "common/uPubFunc.h"
#include "filelist/TFileListModel.h"

// Shared by the worker and the calls it has queued on the window's thread, which may outlive it.
struct TSignThread::TLink {
  std::mutex Lock;
  std::condition_variable Answered;
  bool Cut = false;  // the worker object is going away: queued calls do nothing, waits end
};

struct TSignThread::TJob {
  TRowId Row;
  std::string FileName;
  TSignSettings Settings;
};

struct TSignThread::TDone {
  TRowId Row;
  TSignOutcome Outcome;
};

namespace {
// Collects what QThread::start logs on this thread when the system refuses a thread: Qt gives
// the cause only as a message. Messages of other threads go on to the previous handler.
class TStartFailureCapture {
 public:
  TStartFailureCapture() {
    Active = this;
    Previous = qInstallMessageHandler(&Capture);
  }
  ~TStartFailureCapture() {
    qInstallMessageHandler(Previous);
    Active = nullptr;
  }
  TStartFailureCapture(const TStartFailureCapture&) = delete;
  TStartFailureCapture& operator=(const TStartFailureCapture&) = delete;

  // "QThread::start: Thread creation error (Resource temporarily unavailable)" gives the text
  // in the last parentheses.
  std::string Cause() const {
    const auto Open = Message.rfind('(');
    const auto Close = Message.rfind(')');
    if (Open != std::string::npos && Close != std::string::npos && Close > Open)
      return Message.substr(Open + 1, Close - Open - 1);
    return Message.empty() ? std::string("unknown cause") : Message;
  }

 private:
  static void Capture(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
    if (Active != nullptr) {
      Active->Message = Text.toStdString();
    } else if (const QtMessageHandler Next = Previous.load()) {
      Next(Type, Context, Text);
    }
  }

  static thread_local TStartFailureCapture* Active;
  static std::atomic<QtMessageHandler> Previous;
  std::string Message;
};

thread_local TStartFailureCapture* TStartFailureCapture::Active = nullptr;
std::atomic<QtMessageHandler> TStartFailureCapture::Previous{nullptr};
}  // namespace

TSignThread::TSignThread(TFileListModel* Files, TSettingsReader ReadSettings, TSummaryPresenter ShowSummary,
                         QObject* Owner)
    : QThread(Owner),
      FFiles(Files),
      FReadSettings(std::move(ReadSettings)),
      FShowSummary(std::move(ShowSummary)),
      FLink(std::make_shared<TLink>()) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TSignThread::~TSignThread() {
  RequestStop();
  disconnect(this, &QThread::finished, nullptr, nullptr);
  {
    const std::lock_guard Guard(FLink->Lock);
    FLink->Cut = true;
  }
  FLink->Answered.notify_all();
  wait();
}

void TSignThread::Start() {
  std::string Cause;
  {
    TStartFailureCapture Capture;
    setStackSize(StackSize);
    start();
    if (isRunning() || isFinished()) return;
    Cause = Capture.Cause();
  }
  throw std::runtime_error("Thread creation error: " + Cause);
}

template <class T>
std::optional<T> TSignThread::OnWindowThread(std::function<T()> Call) {
  struct TAnswer {
    std::optional<T> Value;
    bool Done = false;
  };
  auto Answer = std::make_shared<TAnswer>();
  std::unique_lock Guard(FLink->Lock);
  if (FLink->Cut) return std::nullopt;
  // Queued on this object: when it is destroyed, calls still waiting are dropped with it.
  QMetaObject::invokeMethod(
      this,
      [Link = FLink, Answer, Call = std::move(Call)] {
        {
          const std::lock_guard Check(Link->Lock);
          if (Link->Cut) return;
        }
        T Value = Call();
        const std::lock_guard Done(Link->Lock);
        Answer->Value = std::move(Value);
        Answer->Done = true;
        Link->Answered.notify_all();
      },
      Qt::QueuedConnection);
  FLink->Answered.wait(Guard, [&] { return Answer->Done || FLink->Cut; });
  return Answer->Done ? std::move(Answer->Value) : std::nullopt;
}

bool TSignThread::HandOver(std::optional<TDone> Finished, std::optional<TJob>& Next) {
  std::function<std::optional<TJob>()> Call = [this, Files = FFiles, Read = FReadSettings,
                                               Finished = std::move(Finished)]() -> std::optional<TJob> {
    if (Finished) {
      Files->SetResult(Finished->Row, Finished->Outcome.Status, Finished->Outcome.Info);
      emit RowFinished(Finished->Row);
    }
    // Looked up only now: rows dropped meanwhile are found, deleted ones passed over.
    const std::optional<TRowId> Row = Finished ? Files->Next(Finished->Row) : Files->First();
    if (!Row) return std::nullopt;
    TJob Job{*Row, Files->FileName(*Row), Read()};
    emit RowStarted(*Row);
    return Job;
  };
  auto Answer = OnWindowThread(std::move(Call));
  if (!Answer) return false;
  Next = std::move(*Answer);
  return true;
}

void TSignThread::run() {
  int Processed = 0;
  int Succeeded = 0;
  std::optional<TDone> Finished;
  for (;;) {
    std::optional<TJob> Job;
    if (!HandOver(std::move(Finished), Job)) return;
    if (!Job || FStopRequested) break;
    std::string ErrorText;
    const bool Clean = RunAndCapture(SignCommandLine(Job->Settings, ShortPathOf(Job->FileName)), ErrorText);
    Finished = TDone{Job->Row, ClassifySignRun(Clean, ErrorText)};
    ++Processed;
    if (Finished->Outcome.Succeeded) ++Succeeded;
  }
  if (FStopRequested) return;

  const std::string Summary =
      tr("共有%1个操作文件，签名成功%2个；失败%3个").arg(Processed).arg(Succeeded).arg(Processed - Succeeded).toStdString();
  OnWindowThread<bool>([Show = FShowSummary, Text = Summary] {
    Show(Text);
    return true;
  });
}
