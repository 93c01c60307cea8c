#pragma once
// What the benchmarks that sign with signtool.exe and osslsigncode share.
#include <string>
#include <vector>

inline constexpr char Description[] = "Benchmark build";

// signtool.exe, built beside the benchmarks.
std::string SignTool();

struct TLoopRun {
  double Seconds = 0;  // the runs alone, not the checks
  int Failures = 0;
};

// osslsigncode run once per file with the test PKI's PFX, as a script would sign them: each file
// signed into File.signed.exe beside it, timestamped by TimestampUrl unless it is empty. A run
// that fails, or a signed file the verifier does not find valid (and timestamped when asked), is a
// failure.
TLoopRun OsslsigncodeLoop(const std::vector<std::string>& Paths, const std::string& TimestampUrl);

// main() of the benchmarks that run signtool.exe without the window: the test PKI is made before
// any timing starts.
int RunSignToolBenchmarks(int Argc, char** Argv);
