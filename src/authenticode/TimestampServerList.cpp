#include "authenticode/TimestampServerList.h"

#include <algorithm>

std::vector<std::string> ParseTimestampServers(std::string_view Text) {
  std::vector<std::string> Servers;
  const auto IsSeparator = [](char C) { return C == ';' || static_cast<unsigned char>(C) <= ' '; };
  for (auto Pos = Text.begin(); Pos != Text.end();) {
    const auto End = std::find_if(Pos, Text.end(), IsSeparator);
    const std::string Address(Pos, End);
    if (!Address.empty() && std::find(Servers.begin(), Servers.end(), Address) == Servers.end())
      Servers.push_back(Address);
    Pos = End == Text.end() ? End : End + 1;
  }
  return Servers;
}
