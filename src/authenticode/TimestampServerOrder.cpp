#include "authenticode/TimestampServerOrder.h"

#include <algorithm>

std::vector<std::string> TTimestampServerOrder::Current() const {
  const std::lock_guard Guard(Lock);
  return Servers;
}

void TTimestampServerOrder::PutBehind(const std::string& Server) {
  const std::lock_guard Guard(Lock);
  const auto Found = std::find(Servers.begin(), Servers.end(), Server);
  if (Found != Servers.end()) std::rotate(Found, Found + 1, Servers.end());
}
