#pragma once
// Running osslsigncode with the password, PIN or key handed over its standard input.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/ProcessRunner.h"

// Runs osslsigncode (found on PATH) with Arguments, its standard output and error kept together
// in Errors. Input, when given, is its standard input, as a file in memory: the password or PIN
// that "-readpass -" reads, or the PFX that "-pkcs12 /dev/stdin" opens. InputFile, when open, is
// its standard input instead, for "-in /dev/stdin". It is killed at Deadline; Watches are served
// while it runs.
TRunResult RunOsslsigncode(const std::vector<std::string>& Arguments, const std::optional<std::string>& Input,
                           std::chrono::steady_clock::time_point Deadline,
                           std::vector<TRunRequest::TWatch> Watches, int InputFile = -1);
