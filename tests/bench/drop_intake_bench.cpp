// Dropping 10,000 names on a list that already holds 10,000 rows: the drop intake with the
// model's name index against walking every row for every name. Prints the ratio at the end.
#include <benchmark/benchmark.h>

#include "RatioReporter.h"

#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "common/TextUtil.h"
#include "filelist/DropIntake.h"
#include "ui/TFileListView.h"

namespace {
constexpr int RowCount = 10000;
constexpr int DropCount = 10000;

std::vector<std::string> Numbered(const char* Pattern, int Count) {
  std::vector<std::string> Names;
  for (int I = 0; I < Count; ++I) {
    char Name[128];
    std::snprintf(Name, sizeof Name, Pattern, I);
    Names.emplace_back(Name);
  }
  return Names;
}

const std::vector<std::string>& ExistingRows() {
  static const auto Names = Numbered("/srv/build/output/Existing-%05d.EXE", RowCount);
  return Names;
}

const std::vector<std::string>& DroppedNames() {
  static const auto Names = Numbered("/srv/build/output/module-%05d.dll", DropCount);
  return Names;
}

void Fill(TFileListModel& Files) {
  for (const std::string& Name : ExistingRows()) Files.Append(Name);
}

// Every row compared with every name, as a list without an index has to.
void AppendByWalkingAllRows(const std::vector<std::string>& Names, TFileListModel& Files) {
  for (const std::string& Name : Names) {
    const auto Listed = ListableName(Name);
    if (!Listed) continue;
    bool AlreadyListed = false;
    for (int Row = 0; Row < Files.Count() && !AlreadyListed; ++Row) {
      const TShortString& FileName = Files.Item(Files.IdAt(Row))->FileName;
      AlreadyListed = SameTextAscii(std::string_view(FileName.Chars, FileName.Length), *Listed);
    }
    if (!AlreadyListed) Files.Append(*Listed);
  }
}

void DropWithIndex(benchmark::State& State) {
  for (auto _ : State) {
    State.PauseTiming();
    TFileListView List;
    Fill(*List.Files());
    State.ResumeTiming();
    AppendDroppedNames(DroppedNames(), *List.Files());
    if (List.Files()->Count() != RowCount + DropCount) State.SkipWithError("rows missing");
  }
}

void DropWalkingAllRows(benchmark::State& State) {
  for (auto _ : State) {
    State.PauseTiming();
    TFileListView List;
    Fill(*List.Files());
    State.ResumeTiming();
    AppendByWalkingAllRows(DroppedNames(), *List.Files());
    if (List.Files()->Count() != RowCount + DropCount) State.SkipWithError("rows missing");
  }
}

BENCHMARK(DropWithIndex)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(DropWalkingAllRows)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
}  // namespace

int main(int Argc, char** Argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication Application(Argc, Argv);
  benchmark::Initialize(&Argc, Argv);
  TRatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  const double Indexed = Reporter.TimeOf("DropWithIndex");
  const double Walking = Reporter.TimeOf("DropWalkingAllRows");
  if (Indexed > 0 && Walking > 0)
    std::printf("%d names on %d rows: index %.1f ms, walking all rows %.1f ms, index is %.0fx faster\n", DropCount,
                RowCount, Indexed, Walking, Walking / Indexed);
  benchmark::Shutdown();
  return 0;
}
