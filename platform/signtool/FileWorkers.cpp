#include "FileWorkers.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "Interruption.h"

void ForEachFile(const std::vector<std::string>& Files, int Parallel,
                 const std::function<void(const std::string& File)>& Work) {
  std::atomic<std::size_t> Next{0};
  std::atomic<int> Interruption{0};
  const auto Worker = [&] {
    try {
      for (std::size_t I; Interruption == 0 && (I = Next++) < Files.size();) {
        ThrowIfInterrupted();
        Work(Files[I]);
      }
    } catch (const TInterrupted& Interrupted) {
      Interruption = Interrupted.Signal;
    }
  };
  const std::size_t Threads = std::min<std::size_t>(static_cast<std::size_t>(std::max(Parallel, 1)), Files.size());
  if (Threads <= 1) {
    Worker();
  } else {
    std::vector<std::jthread> Workers;
    for (std::size_t I = 0; I < Threads; ++I) Workers.emplace_back(Worker);
  }
  if (Interruption != 0) throw TInterrupted{Interruption};
}
