#include "signing/TSignThread.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "common/uPubFunc.h"
#include "signing/RunReports.h"

// Shared by the worker, its runs and the calls it has queued on the window's thread, which may
// outlive it.
struct TSignThread::TLink {
  std::mutex Lock;
  std::condition_variable Answered;  // a queued call has been answered, a run has ended, or Cut
  std::vector<TDone> Completed;      // runs ended since the worker last looked
  bool Cut = false;  // the worker object is going away: queued calls do nothing, waits end
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

// One run of the tool for the file, unless the file is not there; with the file's entry in the
// batch's report.
TSignOutcome SignFile(const TSignThread::TJob& Job, const TSignThread::TEnvironment& Environment) {
  const std::string ShortPath = ShortPathOf(Job.FileName);
  TSignOutcome Outcome = MissingFileOutcome(Job.FileName);
  if (!ShortPath.empty()) {
    std::string ErrorText;
    const bool Clean = RunAndCapture(SignCommandLine(Job.Settings, ShortPath, Job.ReportPath), Environment, ErrorText);
    Outcome = ClassifySignRun(Clean, ErrorText);
    if (!Job.ReportPath.empty()) Outcome.Report = TakeRunReport(Job.ReportPath);
  }
  if (!Outcome.Report) Outcome.Report = UnreportedEntry(Job.FileName, Outcome);
  return Outcome;
}
}  // namespace

TSignThread::TSignThread(THandOver HandOver, int Parallelism, TEnvironment RunEnvironment, QObject* Owner)
    : QThread(Owner),
      FHandOver(std::move(HandOver)),
      FParallelism(Parallelism),
      FRunEnvironment(std::move(RunEnvironment)),
      FLink(std::make_shared<TLink>()) {}

TSignThread::~TSignThread() {
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

void TSignThread::run() {
  std::map<TRowId, std::thread> Runs;
  const auto Join = [&Runs](TRowId Row) {
    const auto Run = Runs.find(Row);
    if (Run->second.joinable()) Run->second.join();
    Runs.erase(Run);
  };
  std::vector<TDone> Finished;
  for (;;) {
    const int Wanted = FParallelism - static_cast<int>(Runs.size());
    std::optional<std::vector<TJob>> Jobs = OnWindowThread<std::vector<TJob>>(
        [HandOver = FHandOver, Finished = std::move(Finished), Wanted] { return HandOver(Finished, Wanted); });
    Finished.clear();
    if (!Jobs) break;
    for (TJob& Job : *Jobs) {
      const TRowId Row = Job.Row;
      auto Sign = [Link = FLink, Job = std::move(Job), &Environment = FRunEnvironment] {
        TSignOutcome Outcome = SignFile(Job, Environment);
        {
          const std::lock_guard Guard(Link->Lock);
          Link->Completed.push_back(TDone{Job.Row, std::move(Outcome)});
        }
        Link->Answered.notify_all();
      };
      try {
        Runs.emplace(Row, std::thread(Sign));
      } catch (const std::system_error&) {
        // No thread to spare: this file is signed here, before the next trip.
        Runs.emplace(Row, std::thread());
        Sign();
      }
    }
    if (Runs.empty()) break;

    std::unique_lock Guard(FLink->Lock);
    FLink->Answered.wait(Guard, [&] { return !FLink->Completed.empty() || FLink->Cut; });
    if (FLink->Cut) break;
    Finished.swap(FLink->Completed);
    Guard.unlock();
    for (const TDone& Done : Finished) Join(Done.Row);
  }
  // Cut short: the runs in flight still finish their files, but nobody hears of them.
  while (!Runs.empty()) Join(Runs.begin()->first);
}
