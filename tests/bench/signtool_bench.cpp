// signtool.exe against other programs doing the same work, both timed in the same run:
// - ManyFilesInOneCall: QUILLORY_BENCH_FILES (200) programs of 1 MiB signed with the PFX and no
//   timestamp, by one signtool.exe call for all of them and by osslsigncode run once per file
//   (-in/-out, the same key and description).
// - OneLargeFile: one program of QUILLORY_BENCH_LARGE_MB (500) MiB signed in place by signtool.exe,
//   against hashing it once (sha256sum) and writing one copy of it (cp, then sync); and
//   signtool.exe's peak resident memory.
// Each signed file is checked afterwards, outside the timing. Run by hand:
//   build/bin/signtool_bench [--benchmark_filter=OneLargeFile]
#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "BenchPrograms.h"
#include "BenchSize.h"
#include "SigningBench.h"
#include "TimedRun.h"
#include "authenticode/VerifySignature.h"
#include "support/PeFixtures.h"
#include "support/TestPki.h"

namespace {
void ManyFilesInOneCall(benchmark::State& State) {
  const int FileCount = BenchSize("QUILLORY_BENCH_FILES", 200);
  const TTestPki& Pki = TestPki();
  QTemporaryDir Folder;
  const std::string Template = Folder.filePath("template.exe").toStdString();
  WriteBytes(Template, BuildPe({TPeKind::Exe32, 1 << 20, true}));

  double SignToolSeconds = 0, LoopSeconds = 0;
  int Failures = 0;
  for (auto _ : State) {
    const TLoopRun Loop = OsslsigncodeLoop(Copies(Folder, Template, "loop", FileCount), {});

    const std::vector<std::string> SignToolFiles = Copies(Folder, Template, "signtool", FileCount);
    std::vector<std::string> Command{SignTool(), "sign", "/q", "/f", Pki.PfxPath, "/p", Pki.PfxPassword,
                                     "/d", Description};
    Command.insert(Command.end(), SignToolFiles.begin(), SignToolFiles.end());
    const TTimedRun Call = RunTimed(Command);
    if (!Call.Succeeded) ++Failures;

    Failures += Loop.Failures + CountNotIn(SignToolFiles, vsValidNoTimestamp);
    LoopSeconds += Loop.Seconds;
    SignToolSeconds += Call.Seconds;
    State.SetIterationTime(Call.Seconds);
  }
  if (Failures > 0) State.SkipWithError("files were left unsigned");
  State.counters["osslsigncode_loop_ms"] = LoopSeconds * 1000 / static_cast<double>(State.iterations());
  State.counters["loop_per_signtool"] = LoopSeconds / SignToolSeconds;
  std::printf("%d files of 1 MiB, no timestamp, %lld round(s): one signtool.exe call %.3f s, osslsigncode once per "
              "file %.3f s; the loop takes %.2f times as long; failures %d\n",
              FileCount, static_cast<long long>(State.iterations()), SignToolSeconds, LoopSeconds,
              LoopSeconds / SignToolSeconds, Failures);
}
BENCHMARK(ManyFilesInOneCall)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

void OneLargeFile(benchmark::State& State) {
  const int Megabytes = BenchSize("QUILLORY_BENCH_LARGE_MB", 500);
  const TTestPki& Pki = TestPki();
  QTemporaryDir Folder;
  const std::string Program = Folder.filePath("large.exe").toStdString();
  const std::string Copy = Folder.filePath("large copy.exe").toStdString();

  for (auto _ : State) {
    // Made in a child of its own: a program started from here takes this process's peak resident
    // memory as its own starting peak (the spawn shares the memory until exec), so the file must
    // never be held here.
    const pid_t Maker = ::fork();
    if (Maker == 0) {
      WriteBytes(Program, BuildPe({TPeKind::Exe64, static_cast<std::size_t>(Megabytes) << 20, false}));
      ::_exit(0);
    }
    int MakerStatus = 0;
    if (Maker < 0 || ::waitpid(Maker, &MakerStatus, 0) != Maker || !WIFEXITED(MakerStatus) ||
        WEXITSTATUS(MakerStatus) != 0) {
      State.SkipWithError("the large file could not be made");
      return;
    }
    // The file is in the page cache for both sides; neither starts with the other's writes pending.
    ::sync();
    const TTimedRun Hash = RunTimed({"sha256sum", Program});
    const TTimedRun Copying = RunTimed({"cp", Program, Copy});
    const TTimedRun Syncing = RunTimed({"sync"});
    const double Reference = Hash.Seconds + Copying.Seconds + Syncing.Seconds;
    std::filesystem::remove(Copy);
    ::sync();
    const TTimedRun Sign = RunTimed({SignTool(), "sign", "/q", "/f", Pki.PfxPath, "/p", Pki.PfxPassword, "/d",
                                     Description, Program});
    int Failures = CountNotIn({Program}, vsValidNoTimestamp);
    for (const TTimedRun& Step : {Hash, Copying, Syncing, Sign})
      if (!Step.Succeeded) ++Failures;
    if (Failures > 0) State.SkipWithError("a step failed or the file was left unsigned");

    State.SetIterationTime(Sign.Seconds);
    State.counters["reference_s"] = Reference;
    State.counters["ratio"] = Sign.Seconds / Reference;
    State.counters["peak_rss_mib"] = static_cast<double>(Sign.PeakResidentKb) / 1024;
    std::printf("one file of %d MiB: signtool.exe %.3f s; sha256sum %.3f s + cp %.3f s + sync %.3f s = %.3f s; "
                "ratio %.3f; signtool.exe peak resident memory %.1f MiB; failures %d\n",
                Megabytes, Sign.Seconds, Hash.Seconds, Copying.Seconds, Syncing.Seconds, Reference,
                Sign.Seconds / Reference, static_cast<double>(Sign.PeakResidentKb) / 1024, Failures);
  }
}
BENCHMARK(OneLargeFile)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();
}  // namespace

int main(int Argc, char** Argv) { return RunSignToolBenchmarks(Argc, Argv); }
