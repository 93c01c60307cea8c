// Opening the properties window of a program that carries 20,000 signatures: reading every
// signature, as the window once did, against reading the first ones and counting the rest, and
// the whole window opened that way. Prints both reading sides and their ratio at the end.
#include <benchmark/benchmark.h>

#include "RatioReporter.h"

#include <QApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>

#include "authenticode/AuthenticodeInfo.h"
#include "common/FileReader.h"
#include "support/ManySignatures.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "ui/TFrmFileProperties.h"

namespace {
constexpr int NestedCount = 20'000;

class TCrowdedProgram {
 public:
  TCrowdedProgram() {
    const std::string Plain = Folder.filePath("plain.exe").toStdString();
    WriteBytes(Plain, BuildPe({}));
    if (!OsslSign(Plain, Plain)) throw std::runtime_error("osslsigncode could not sign the program");
    Path = Folder.filePath("crowded.exe").toStdString();
    WriteBytes(Path, WithManySignatures(ReadBytes(Plain), NestedCount));
    TFileReader Reader;
    if (!Reader.Open(Path)) throw std::runtime_error("cannot read the crowded program");
    Signature = *LocateSignature(Reader.Descriptor(), Reader.Size());
  }
  std::string Path;
  TSignedContainer Signature;

 private:
  QTemporaryDir Folder;
};

TCrowdedProgram& Crowded() {
  static TCrowdedProgram Instance;
  return Instance;
}

void ReadEverySignature(benchmark::State& State) {
  for (auto _ : State)
    benchmark::DoNotOptimize(ReadAuthenticodeInfo(Crowded().Signature, std::numeric_limits<std::size_t>::max()));
}

void ReadFirstSignaturesCountTheRest(benchmark::State& State) {
  for (auto _ : State) benchmark::DoNotOptimize(ReadAuthenticodeInfo(Crowded().Signature));
}

void OpenPropertiesWindow(benchmark::State& State) {
  const QString Path = QString::fromStdString(Crowded().Path);
  for (auto _ : State) {
    TFrmFileProperties* Window = TFrmFileProperties::Open(Path);
    QApplication::processEvents();
    State.PauseTiming();
    delete Window;
    State.ResumeTiming();
  }
}

BENCHMARK(ReadEverySignature)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(ReadFirstSignaturesCountTheRest)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
BENCHMARK(OpenPropertiesWindow)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
}  // namespace

int main(int Argc, char** Argv) {
  QApplication Application(Argc, Argv);
  benchmark::Initialize(&Argc, Argv);
  TRatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  const double Every = Reporter.TimeOf("ReadEverySignature");
  const double Bounded = Reporter.TimeOf("ReadFirstSignaturesCountTheRest");
  if (Every > 0 && Bounded > 0)
    std::printf("%d nested signatures: reading all %.1f ms, first %zu and counting %.1f ms, %.1fx faster\n",
                NestedCount, Every, MaxReadSignatures, Bounded, Every / Bounded);
  benchmark::Shutdown();
  return 0;
}
