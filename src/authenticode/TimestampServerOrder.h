#pragma once
// The order in which the files of one batch ask their timestamp servers. A server that failed
// goes behind the others for the rest of the batch, so one that is down costs one try, not one
// per file. Kept in the batch's pace file (PaceFile.h), so it holds for every process and thread
// of the batch.
#include <string>
#include <vector>

#include "authenticode/PaceFile.h"

class TTimestampServerOrder {
 public:
  // File is the batch's and outlives the order.
  TTimestampServerOrder(std::vector<std::string> Servers, TPaceFile& File) : Servers(std::move(Servers)), File(File) {}

  // Throws std::system_error, as do all, when the pace file cannot be read or written.
  std::vector<std::string> Current() const;
  // Server failed: it is asked after every other one from now on.
  void PutBehind(const std::string& Server);

 private:
  std::vector<std::string> Servers;  // as given
  TPaceFile& File;
};
