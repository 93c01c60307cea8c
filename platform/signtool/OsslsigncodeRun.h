#pragma once
// Running osslsigncode with the PFX password handed over its standard input.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct TOsslsigncodeResult {
  bool Started = false;
  bool Succeeded = false;  // exited with code 0
  bool TimedOut = false;   // killed at the deadline
  std::string Output;      // standard output and error together, as osslsigncode wrote them
};

// Runs osslsigncode (found on PATH) with Arguments. Password, when given, is written to its
// standard input, which "-readpass -" reads. Without a TimeLimit it may run as long as it likes.
TOsslsigncodeResult RunOsslsigncode(const std::vector<std::string>& Arguments,
                                    const std::optional<std::string>& Password,
                                    std::optional<std::chrono::milliseconds> TimeLimit);
