#pragma once
// Working through a run's files with up to Parallel threads, each taking the next file not yet
// begun. Once the run is interrupted no further file is begun; the files under way end first,
// and then the interruption is thrown on (TInterrupted).
#include <functional>
#include <string>
#include <vector>

void ForEachFile(const std::vector<std::string>& Files, int Parallel,
                 const std::function<void(const std::string& File)>& Work);
