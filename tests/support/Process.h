#pragma once
// Runs a real program from a test and collects what it wrote.
#include <string>
#include <vector>

struct TProcessResult {
  int ExitCode = -1;
  bool Started = false;
  std::string Out, Err;
};

// Runs Program with Args (no shell), feeds StdIn and waits up to TimeoutMs; a program that does
// not finish in time is killed and reported with ExitCode -1.
TProcessResult RunProcess(const std::string& Program, const std::vector<std::string>& Args,
                          const std::string& StdIn = {}, int TimeoutMs = 60000);
