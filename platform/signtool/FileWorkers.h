#pragma once
// Working through a run's files with up to Parallel threads, each taking the next file not yet
// begun. Once the run is interrupted no further file is begun; the files under way end first,
// and then the interruption is thrown on (TInterrupted).
//
// A file's work returns how to tell of it (its output, its report entry). The tellings run one at
// a time and in the files' order, whatever order their work ends in, so that a parallel run
// prints as a sequential one would.
#include <functional>
#include <string>
#include <vector>

using TFileTelling = std::function<void()>;

void ForEachFile(const std::vector<std::string>& Files, int Parallel,
                 const std::function<TFileTelling(const std::string& File)>& Work);
