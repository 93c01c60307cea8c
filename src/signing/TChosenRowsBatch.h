#pragma once
// A batch over rows chosen before it starts: one file after another on a worker thread, each
// row's result written on the window's thread as soon as it is known. A row deleted meanwhile is
// passed over.
#include <QThread>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "filelist/TFileBatch.h"

class TChosenRowsBatch : public TFileBatch {
  Q_OBJECT

 public:
  using TFileBatch::TFileBatch;
  // Waits for the file being worked on.
  ~TChosenRowsBatch() override;

  // What the next batch works on: Rows in this order.
  void ChooseRows(std::vector<TRowId> Rows);

 protected:
  struct TRowResult {
    TFileStatus Status = fsFailed;
    std::string Info;
    bool Succeeded = false;
  };
  // The work for one file, made on the window's thread and run on the worker: it holds all it
  // needs and throws nothing.
  using TRowWork = std::function<TRowResult()>;
  virtual TRowWork WorkFor(const std::string& FileName) const = 0;

  // Throws std::runtime_error("Thread creation error: <cause>") when no thread can be made.
  void Begin() override;
  std::optional<TRowId> RowAfter(const std::optional<TRowId>& Last) const override;
  int RowsAfter(const std::optional<TRowId>& Last) const override;

 private:
  // Sends the next row to the worker, or ends the batch.
  void WorkOnNext();
  void EndWorker();
  // Where the rows after Last begin in FRows.
  std::size_t PlaceAfter(const std::optional<TRowId>& Last) const;

  std::vector<TRowId> FRows;
  std::map<TRowId, std::size_t> FPlaces;  // of each row in FRows
  std::unique_ptr<QThread> FThread;
  std::unique_ptr<QObject> FWorker;  // lives on FThread
};
