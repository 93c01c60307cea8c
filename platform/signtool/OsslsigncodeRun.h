#pragma once
// Running osslsigncode with the PFX password handed over its standard input.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/ProcessRunner.h"

// Runs osslsigncode (found on PATH) with Arguments, its standard output and error kept together
// in Errors. Password, when given, is written to its standard input, which "-readpass -" reads.
// It is killed at Deadline; Watches are served while it runs.
TRunResult RunOsslsigncode(const std::vector<std::string>& Arguments, const std::optional<std::string>& Password,
                           std::chrono::steady_clock::time_point Deadline,
                           std::vector<TRunRequest::TWatch> Watches);
