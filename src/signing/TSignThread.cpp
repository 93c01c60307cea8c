#include "signing/TSignThread.h"

#include <sys/socket.h>

#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "common/Descriptor.h"
#include "common/uPubFunc.h"
#include "keys/AgentKey.h"
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

// The command line of the job's run; empty when its file is not there.
std::string CommandLineOf(const TSignThread::TJob& Job) {
  const std::string ShortPath = ShortPathOf(Job.FileName);
  return ShortPath.empty() ? std::string() : SignCommandLine(Job.Settings, ShortPath, Job.ReportPath);
}

// One run of the tool for the file, unless the file is not there (an empty CommandLine); with
// the file's entry in the batch's report. The run reads Input as its standard input, if given.
TSignOutcome SignFile(const TSignThread::TJob& Job, const std::string& CommandLine,
                      const TSignThread::TEnvironment& Environment, int Input = -1) {
  TSignOutcome Outcome = MissingFileOutcome(Job.FileName);
  if (!CommandLine.empty()) {
    std::string ErrorText;
    const bool Clean = RunAndCapture(CommandLine, Environment, Input, ErrorText);
    Outcome = ClassifySignRun(Clean, ErrorText);
    if (!Job.ReportPath.empty()) Outcome.Report = TakeRunReport(Job.ReportPath);
  }
  if (!Outcome.Report) Outcome.Report = UnreportedEntry(Job.FileName, Outcome);
  return Outcome;
}
}  // namespace

// The run of a row started ahead of its turn, on a thread of its own. Its standard input is a
// socket whose other end this holds: one byte gives the run its turn, closing the end drops it.
class TSignThread::TWaitingRun {
 public:
  // Throws std::system_error when the system gives no socket or thread.
  TWaitingRun(TJob Job, std::string CommandLine, const TEnvironment& Environment, std::shared_ptr<TLink> Link)
      : FRow(Job.Row), FCommandLine(std::move(CommandLine)), FLink(std::move(Link)) {
    int Ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Ends) != 0)
      throw std::system_error(errno, std::generic_category(), "socketpair");
    FTurn.Reset(Ends[0]);
    TDescriptor Input(Ends[1]);
    TEnvironment Waiting = Environment;
    Waiting.emplace_back(AwaitTurnVariable, "1");
    FThread = std::thread([Link = FLink, State = FState, Job = std::move(Job), CommandLine = FCommandLine,
                           Waiting = std::move(Waiting), Input = std::move(Input)] {
      TSignOutcome Outcome = SignFile(Job, CommandLine, Waiting, Input.Get());
      {
        const std::lock_guard Guard(Link->Lock);
        if (!State->Given) {
          State->Ended = true;
          return;
        }
        Link->Completed.push_back(TDone{Job.Row, std::move(Outcome)});
      }
      Link->Answered.notify_all();
    });
  }
  TWaitingRun(const TWaitingRun&) = delete;
  TWaitingRun& operator=(const TWaitingRun&) = delete;
  // Drops the run unless it was given its turn, and waits for it: it ends without having read
  // its key or its file.
  ~TWaitingRun() {
    FTurn.Close();
    if (FThread.joinable()) FThread.join();
  }

  bool IsFor(TRowId Row, const std::string& CommandLine) const {
    return Row == FRow && CommandLine == FCommandLine;
  }

  // Gives the run its turn and hands over its thread, which reports the row's end as any run
  // does. Nothing when the run has ended already: it failed before its turn and is dropped.
  std::optional<std::thread> GiveTurn() {
    {
      const std::lock_guard Guard(FLink->Lock);
      if (FState->Ended) return std::nullopt;
      FState->Given = true;
    }
    // Should the run end meanwhile, the byte is lost and it reports that end.
    ::send(FTurn.Get(), "g", 1, MSG_NOSIGNAL);
    FTurn.Close();
    return std::move(FThread);
  }

 private:
  struct TState {  // under TLink::Lock
    bool Given = false;
    bool Ended = false;
  };
  TRowId FRow;
  std::string FCommandLine;
  std::shared_ptr<TLink> FLink;
  std::shared_ptr<TState> FState = std::make_shared<TState>();
  TDescriptor FTurn;
  std::thread FThread;
};

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
  std::unique_ptr<TWaitingRun> Waiting;
  std::vector<TDone> Finished;
  for (;;) {
    const int Wanted = FParallelism - static_cast<int>(Runs.size());
    std::optional<TTrip> Trip = OnWindowThread<TTrip>(
        [HandOver = FHandOver, Finished = std::move(Finished), Wanted] { return HandOver(Finished, Wanted); });
    Finished.clear();
    if (!Trip) break;
    for (TJob& Job : Trip->Begun) {
      const TRowId Row = Job.Row;
      std::string CommandLine = CommandLineOf(Job);
      if (Waiting && Waiting->IsFor(Row, CommandLine))
        if (std::optional<std::thread> Run = Waiting->GiveTurn()) {
          Runs.emplace(Row, std::move(*Run));
          Waiting.reset();
          continue;
        }
      Waiting.reset();
      auto Sign = [Link = FLink, Job = std::move(Job), CommandLine = std::move(CommandLine),
                   &Environment = FRunEnvironment] {
        TSignOutcome Outcome = SignFile(Job, CommandLine, Environment);
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
    if (Trip->Upcoming) {
      std::string CommandLine = CommandLineOf(*Trip->Upcoming);
      if (Waiting && !Waiting->IsFor(Trip->Upcoming->Row, CommandLine)) Waiting.reset();
      if (!Waiting && !CommandLine.empty()) try {
          Waiting = std::make_unique<TWaitingRun>(std::move(*Trip->Upcoming), std::move(CommandLine),
                                                  FRunEnvironment, FLink);
        } catch (const std::system_error&) {
          // Nothing to spare: the row starts its run when its turn comes.
        }
    } else {
      Waiting.reset();
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
  Waiting.reset();
  while (!Runs.empty()) Join(Runs.begin()->first);
}
