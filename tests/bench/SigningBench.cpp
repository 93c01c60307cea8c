#include "SigningBench.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>

#include <filesystem>

#include "BenchPrograms.h"
#include "TimedRun.h"
#include "support/TestPki.h"

std::string SignTool() { return QDir(QCoreApplication::applicationDirPath()).filePath("signtool.exe").toStdString(); }

TLoopRun OsslsigncodeLoop(const std::vector<std::string>& Paths, const std::string& TimestampUrl) {
  const TTestPki& Pki = TestPki();
  TLoopRun Loop;
  std::vector<std::string> Outputs;
  for (const std::string& File : Paths) {
    Outputs.push_back(File + ".signed.exe");
    std::filesystem::remove(Outputs.back());  // one left from an earlier round would pass the check
    std::vector<std::string> Command{"osslsigncode", "sign", "-pkcs12", Pki.PfxPath, "-pass", Pki.PfxPassword,
                                     "-h", "sha256", "-n", Description};
    if (!TimestampUrl.empty()) Command.insert(Command.end(), {"-ts", TimestampUrl});
    Command.insert(Command.end(), {"-in", File, "-out", Outputs.back()});
    const TTimedRun Run = RunTimed(Command);
    Loop.Seconds += Run.Seconds;
    if (!Run.Succeeded) ++Loop.Failures;
  }
  Loop.Failures += CountNotIn(Outputs, TimestampUrl.empty() ? vsValidNoTimestamp : vsValid);
  return Loop;
}

int RunSignToolBenchmarks(int Argc, char** Argv) {
  QCoreApplication Application(Argc, Argv);
  benchmark::Initialize(&Argc, Argv);
  TestPki();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
