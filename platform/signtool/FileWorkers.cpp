#include "FileWorkers.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "Interruption.h"

namespace {
// Holds the tellings of files that ended before an earlier one, until their turn.
class TTellingsInOrder {
 public:
  explicit TTellingsInOrder(std::size_t Count) : Tellings(Count), HasEnded(Count, false) {}

  void Ended(std::size_t Index, TFileTelling Telling) {
    const std::lock_guard Guard(Lock);
    Tellings[Index] = std::move(Telling);
    HasEnded[Index] = true;
    while (NextToTell < HasEnded.size() && HasEnded[NextToTell]) TellNext();
  }

  // After the work: what is left behind a file that was never ended (the run was interrupted).
  void TellTheRest() {
    const std::lock_guard Guard(Lock);
    for (; NextToTell < HasEnded.size(); ++NextToTell)
      if (HasEnded[NextToTell] && Tellings[NextToTell]) Tellings[NextToTell]();
  }

 private:
  void TellNext() {
    if (TFileTelling Telling = std::move(Tellings[NextToTell])) Telling();
    ++NextToTell;
  }

  std::mutex Lock;
  std::vector<TFileTelling> Tellings;
  std::vector<bool> HasEnded;
  std::size_t NextToTell = 0;
};
}  // namespace

void ForEachFile(const std::vector<std::string>& Files, int Parallel,
                 const std::function<TFileTelling(const std::string& File)>& Work) {
  std::atomic<std::size_t> Next{0};
  std::atomic<int> Interruption{0};
  TTellingsInOrder Tellings(Files.size());
  const auto Worker = [&] {
    try {
      for (std::size_t I; Interruption == 0 && (I = Next++) < Files.size();) {
        ThrowIfInterrupted();
        Tellings.Ended(I, Work(Files[I]));
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
  Tellings.TellTheRest();
  if (Interruption != 0) throw TInterrupted{Interruption};
}
