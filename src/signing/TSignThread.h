#pragma once
// The signing batch's worker. It signs the rows of the file list one after another with
// signtool.exe and never touches a widget or the list itself: reading the settings and the next
// row, writing a row's result and showing the summary are handed to the window's thread, and the
// worker waits for them. Rows are followed by id, so rows appended during the batch are
// signed in it and deleted rows are passed over.
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "filelist/TFileListModel.h"
#include "signing/SignCommand.h"

class TFileListModel;

class TSignThread : public QThread {
  Q_OBJECT

 public:
  using TSettingsReader = std::function<TSignSettings()>;
  using TSummaryPresenter = std::function<void(const std::string& Summary)>;

  // Stack size of the workers started from now on, in bytes; 0 takes the system's default.
  // (Tests ask for more than the address space allows, to see a worker that cannot be created.)
  static inline unsigned StackSize = 0;

  // The worker for the rows of Files, a child of Owner (which lives on the window's thread). It
  // frees itself once it has ended. ReadSettings runs on the window's thread before every file,
  // ShowSummary there once the batch has run to its end; the worker waits for both.
  TSignThread(TFileListModel* Files, TSettingsReader ReadSettings, TSummaryPresenter ShowSummary,
              QObject* Owner);
  // Stops after the current file and waits for the worker, which then touches nothing more.
  ~TSignThread() override;

  // Starts the worker; throws std::runtime_error("Thread creation error: <cause>") when the
  // system cannot create it.
  void Start();
  // The batch ends after the current file, without a summary.
  void RequestStop() { FStopRequested = true; }

 signals:
  // On the window's thread: the worker takes up a row, and has written a row's result.
  void RowStarted(TRowId Row);
  void RowFinished(TRowId Row);

 protected:
  void run() override;

 private:
  struct TLink;
  struct TJob;
  struct TDone;

  // Runs Call on the window's thread and waits for it; nothing once the worker is being destroyed.
  template <class T>
  std::optional<T> OnWindowThread(std::function<T()> Call);
  // One trip to the window's thread between two files: writes the finished file's result, then
  // finds the next row and reads the settings for it. False once the worker is being destroyed.
  bool HandOver(std::optional<TDone> Finished, std::optional<TJob>& Next);

  TFileListModel* FFiles;
  TSettingsReader FReadSettings;
  TSummaryPresenter FShowSummary;
  std::shared_ptr<TLink> FLink;
  std::atomic<bool> FStopRequested{false};
};
