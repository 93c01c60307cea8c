// signtool.exe on a build machine against a timestamp server that takes its time:
// QUILLORY_BENCH_FILES (500) programs of 1 MiB signed and timestamped (RFC 3161, SHA-256) with the
// PFX, the loopback server answering each request 300 ms after it came and refusing any beyond
// eight at once (429 with Retry-After: 1), by
// - one call with /mt 8;
// - one call with /mt 1 (one process signing one file after another, as jsign does);
// - osslsigncode sign -ts run once per file, in a loop.
// It prints the time of each and the ratios of /mt 8 to the other two. Each signed file is checked
// afterwards, outside the timing. Run by hand: build/bin/signtool_parallel_bench
#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchPrograms.h"
#include "BenchSize.h"
#include "SigningBench.h"
#include "TimedRun.h"
#include "support/BusyTimestampServer.h"
#include "support/PeFixtures.h"
#include "support/TestPki.h"

namespace {
constexpr int ServerAtOnce = 8;
constexpr std::chrono::milliseconds PerRequest(300);

void ParallelCallAgainstLoop(benchmark::State& State) {
  const int FileCount = BenchSize("QUILLORY_BENCH_FILES", 500);
  const TTestPki& Pki = TestPki();
  BusyTimestampServer Tsa(ServerAtOnce, PerRequest);
  QTemporaryDir Folder;
  const std::string Template = Folder.filePath("template.exe").toStdString();
  WriteBytes(Template, BuildPe({TPeKind::Exe32, 1 << 20, true}));

  // One signtool.exe call over fresh copies; the files go again once checked, to spare the disk.
  int Failures = 0;
  const auto SignToolCall = [&](const QString& Prefix, int Parallel) {
    const std::vector<std::string> Files = Copies(Folder, Template, Prefix, FileCount);
    std::vector<std::string> Command{SignTool(), "sign", "/q", "/f", Pki.PfxPath, "/p", Pki.PfxPassword, "/d",
                                     Description, "/tr", Tsa.Url(), "/td", "sha256", "/mt", std::to_string(Parallel)};
    Command.insert(Command.end(), Files.begin(), Files.end());
    const TTimedRun Call = RunTimed(Command);
    Failures += (Call.Succeeded ? 0 : 1) + CountNotIn(Files, vsValid);
    for (const std::string& File : Files) std::filesystem::remove(File);
    return Call.Seconds;
  };

  for (auto _ : State) {
    Tsa.TakeRefused();
    const double Eight = SignToolCall("mt8-", 8);
    const double One = SignToolCall("mt1-", 1);
    const int SignToolRefused = Tsa.TakeRefused();

    const TLoopRun LoopRun = OsslsigncodeLoop(Copies(Folder, Template, "loop", FileCount), Tsa.Url());
    const double Loop = LoopRun.Seconds;
    Failures += LoopRun.Failures;

    State.SetIterationTime(Eight);
    State.counters["mt1_s"] = One;
    State.counters["osslsigncode_loop_s"] = Loop;
    State.counters["mt8_per_mt1"] = Eight / One;
    State.counters["mt8_per_loop"] = Eight / Loop;
    std::printf("%d files of 1 MiB, timestamp server %lld ms allowing %d at once: signtool.exe /mt 8 %.2f s, /mt 1 "
                "%.2f s, osslsigncode once per file %.2f s; /mt 8 takes %.3f of /mt 1 and %.3f of the loop; requests "
                "refused %d (signtool.exe) and %d (loop); failures %d\n",
                FileCount, static_cast<long long>(PerRequest.count()), ServerAtOnce, Eight, One, Loop, Eight / One,
                Eight / Loop, SignToolRefused, Tsa.Refused(), Failures);
  }
  if (Failures > 0) State.SkipWithError("files were left unsigned or without a timestamp");
}
BENCHMARK(ParallelCallAgainstLoop)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();
}  // namespace

int main(int Argc, char** Argv) { return RunSignToolBenchmarks(Argc, Argv); }
