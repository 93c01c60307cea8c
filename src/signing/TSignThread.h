#pragma once
// The signing batch's worker. It runs signtool.exe for the rows it is given, up to a set number
// of runs at a time, and never touches a widget or the list itself: between runs it makes one
// trip to the window's thread, handing over the results that came in and taking the next rows
// with their settings, and it waits for that trip.
// The run of the row that comes next is started ahead of its turn and waits (see AwaitTurn in
// signtool.exe), so that starting the program overlaps the files under way. When that row's turn
// comes with the same command line, the waiting run is given its turn; otherwise (the settings
// changed, the row went, the batch stopped) it is dropped before it has read its key or the file.
#include <QThread>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "filelist/TFileListModel.h"
#include "signing/SignCommand.h"

class TSignThread : public QThread {
  Q_OBJECT

 public:
  struct TJob {
    TRowId Row;
    std::string FileName;
    TSignSettings Settings;
    std::string ReportPath = {};  // where the run writes the file's report (RunReports.h); may be empty
  };
  struct TDone {
    TRowId Row;
    TSignOutcome Outcome;
  };
  struct TTrip {
    std::vector<TJob> Begun;       // rows to begin now
    std::optional<TJob> Upcoming;  // the row that would come next, as it would run now; not begun
  };
  // Runs on the window's thread: takes the finished rows' results and gives at most Wanted rows
  // to begin next, fewer when there are no more (for now).
  using THandOver = std::function<TTrip(std::vector<TDone> Finished, int Wanted)>;

  // Stack size of the workers started from now on, in bytes; 0 takes the system's default.
  // (Tests ask for more than the address space allows, to see a worker that cannot be created.)
  static inline unsigned StackSize = 0;

  // Variables (name, value) each run gets in its environment.
  using TEnvironment = std::vector<std::pair<std::string, std::string>>;

  // A worker keeping up to Parallelism runs in flight, a child of Owner (which lives on the
  // window's thread). It ends once a trip gives no row while no run is in flight.
  TSignThread(THandOver HandOver, int Parallelism, TEnvironment RunEnvironment, QObject* Owner);
  // Waits for the runs in flight and the worker, which then touches nothing more.
  ~TSignThread() override;

  // Starts the worker; throws std::runtime_error("Thread creation error: <cause>") when the
  // system cannot create it.
  void Start();

 protected:
  void run() override;

 private:
  struct TLink;
  class TWaitingRun;

  // Runs Call on the window's thread and waits for it; nothing once the worker is being destroyed.
  template <class T>
  std::optional<T> OnWindowThread(std::function<T()> Call);

  THandOver FHandOver;
  int FParallelism;
  TEnvironment FRunEnvironment;
  std::shared_ptr<TLink> FLink;
};
