#pragma once
// main() of the benchmarks that time our own code against osslsigncode on the same files.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cstdio>

#include "RatioReporter.h"

// Runs the benchmarks and prints how many times faster the one named Own is than the one named
// Osslsigncode, both over FileCount files of 1 MiB.
inline int RunOwnAgainstOsslsigncode(int Argc, char** Argv, const char* Own, const char* Osslsigncode,
                                     int FileCount) {
  QCoreApplication Application(Argc, Argv);
  benchmark::Initialize(&Argc, Argv);
  TRatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  const double OwnSeconds = Reporter.TimeOf(Own) / 1000.0;
  const double ToolSeconds = Reporter.TimeOf(Osslsigncode) / 1000.0;
  if (OwnSeconds > 0 && ToolSeconds > 0)
    std::printf("%d files of 1 MiB: own %.3f s, osslsigncode %.3f s, own is %.1fx faster\n", FileCount, OwnSeconds,
                ToolSeconds, ToolSeconds / OwnSeconds);
  benchmark::Shutdown();
  return 0;
}
