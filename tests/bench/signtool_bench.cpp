// Signing 40 programs of 1 MiB, each with a time-stamp from the same loopback server: through
// signtool.exe (as Quillory runs it, in place) against osslsigncode called directly (into a new
// file). Both are started the same way, through RunAndCapture. Prints the ratio of the wall times.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/WindowsCommandLine.h"
#include "common/uPubFunc.h"
#include "support/PeFixtures.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
constexpr int FileCount = 40;

struct TSetup {
  QTemporaryDir Folder;
  TimestampServer Server;
  std::string Template;

  TSetup() {
    Template = Folder.filePath("template.exe").toStdString();
    WriteBytes(Template, BuildPe({TPeKind::Exe32, 1 << 20, false}));
  }

  // FileCount fresh unsigned copies, on disk before the timed part starts.
  std::vector<std::string> FreshCopies() {
    std::vector<std::string> Paths;
    for (int I = 0; I < FileCount; ++I) {
      const std::string Path = Folder.filePath(QString("copy %1.exe").arg(I)).toStdString();
      std::filesystem::copy_file(Template, Path, std::filesystem::copy_options::overwrite_existing);
      std::filesystem::remove(Path + ".signed");
      Paths.push_back(Path);
    }
    ::sync();
    return Paths;
  }
};

TSetup& Setup() {
  static TSetup Instance;
  return Instance;
}

bool Run(const std::string& CommandLine) {
  std::string ErrorText;
  return RunAndCapture(CommandLine, ErrorText);
}

std::string SignToolCommand(const std::string& Path) {
  const TTestPki& Pki = TestPki();
  return "signtool.exe sign /q /f " + QuoteArgument(Pki.PfxPath) + " /p " + QuoteArgument(Pki.PfxPassword) +
         " /t " + QuoteArgument(Setup().Server.Url()) + " /d \"Bench\" " + QuoteArgument(Path);
}

std::string OsslsigncodeCommand(const std::string& Path) {
  const TTestPki& Pki = TestPki();
  return "osslsigncode sign -pkcs12 " + QuoteArgument(Pki.PfxPath) + " -pass " + QuoteArgument(Pki.PfxPassword) +
         " -h sha256 -t " + QuoteArgument(Setup().Server.Url()) + " -n Bench -in " + QuoteArgument(Path) +
         " -out " + QuoteArgument(Path + ".signed");
}

double SecondsFor(const std::string& CommandLine, bool& Failed) {
  const auto Start = std::chrono::steady_clock::now();
  Failed = !Run(CommandLine) || Failed;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

double TotalSignTool = 0;
double TotalDirect = 0;

// The two ways take turns file by file, so that a change in the machine's load meets both alike.
void SignFortyFilesBothWays(benchmark::State& State) {
  for (auto _ : State) {
    const std::vector<std::string> Paths = Setup().FreshCopies();
    double SignTool = 0;
    double Direct = 0;
    bool Failed = false;
    for (const std::string& Path : Paths) {
      Direct += SecondsFor(OsslsigncodeCommand(Path), Failed);
      SignTool += SecondsFor(SignToolCommand(Path), Failed);
    }
    if (Failed) State.SkipWithError("a file could not be signed");
    TotalSignTool += SignTool;
    TotalDirect += Direct;
    State.SetIterationTime(SignTool);
  }
  State.counters["osslsigncode_ms"] = TotalDirect * 1000 / static_cast<double>(State.iterations());
  State.counters["ratio"] = TotalSignTool / TotalDirect;
}

// osslsigncode prints "Succeeded" on standard output only, so RunAndCapture sees it as clean.
BENCHMARK(SignFortyFilesBothWays)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();
}  // namespace

int main(int Argc, char** Argv) {
  QCoreApplication Application(Argc, Argv);
  benchmark::Initialize(&Argc, Argv);
  Setup();  // the test PKI and the server are made before any timing starts
  TestPki();
  benchmark::RunSpecifiedBenchmarks();
  if (TotalDirect > 0)
    std::printf("%d files of 1 MiB per round: signtool.exe %.3f s, osslsigncode %.3f s in all, ratio %.3f\n",
                FileCount, TotalSignTool, TotalDirect, TotalSignTool / TotalDirect);
  benchmark::Shutdown();
  return 0;
}
