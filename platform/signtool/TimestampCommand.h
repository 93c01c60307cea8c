#pragma once
// signtool.exe timestamp: adds a timestamp to signed files that have none. Arguments are those
// after "timestamp".
#include <string>
#include <vector>

int RunTimestamp(const std::vector<std::string>& Arguments);
