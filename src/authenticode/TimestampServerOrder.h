#pragma once
// The order in which the files of one batch ask their timestamp servers. A server that failed
// goes behind the others for the rest of the batch, so one that is down costs one try, not one
// per file. Shared by the threads of a batch.
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class TTimestampServerOrder {
 public:
  explicit TTimestampServerOrder(std::vector<std::string> Servers) : Servers(std::move(Servers)) {}

  std::vector<std::string> Current() const;
  // Server failed: it is asked after every other one from now on.
  void PutBehind(const std::string& Server);

 private:
  mutable std::mutex Lock;
  std::vector<std::string> Servers;
};
