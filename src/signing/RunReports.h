#pragma once
// The reports of one signing batch's runs: each signtool.exe run writes its file's report (/report)
// into a folder only this user may enter, made as the batch begins and removed when it ends; the
// batch takes each report back as its run ends. So the window's report says what the signing
// process itself saw, also of the file before it was signed.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/BatchReport.h"
#include "filelist/TFileListModel.h"
#include "keys/PrivateFolder.h"

class TRunReports {
 public:
  TRunReports();
  ~TRunReports();
  TRunReports(const TRunReports&) = delete;
  TRunReports& operator=(const TRunReports&) = delete;

  // Where the run for Row writes its report; empty when no private folder could be made.
  std::string PathFor(TRowId Row) const;
  // What the runs' environment needs: each report is taken as its run ends, so none is flushed.
  std::vector<std::pair<std::string, std::string>> RunEnvironment() const;

 private:
  TPrivateFolder Folder;
  std::string Path;  // this batch's folder inside it; empty when none could be made
};

// The first file of the report at Path, which is then removed; nothing when there is none.
std::optional<TReportEntry> TakeRunReport(const std::string& Path);
