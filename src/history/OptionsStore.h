#pragma once
// The program's own settings in the [Options] section of config.ini, beside the histories.
#include <chrono>
#include <string>

constexpr int MinSignParallelism = 1;
constexpr int MaxSignParallelism = 8;

// How many files a signing batch signs at once. Absent or not a number: one at a time. A number
// out of range counts as the nearest allowed one; the file itself is left as it is.
int ReadSignParallelism(const std::string& ConfigFile);
// Throws std::runtime_error("Unable to write to <path>") when the file cannot be written.
void WriteSignParallelism(const std::string& ConfigFile, int Count);

// The PEM file of further certificates that signatures being verified may chain to, as written
// (a relative name counts from the program's folder); empty when not set.
std::string ReadVerifyTrustFile(const std::string& ConfigFile);
// An empty Path removes the setting. Throws as WriteSignParallelism.
void WriteVerifyTrustFile(const std::string& ConfigFile, const std::string& Path);

// Whether the window asks its timestamp servers for RFC 3161 timestamps (TimestampProtocol=RFC3161,
// any case) rather than in the older Authenticode protocol, which is the default.
bool ReadRfc3161Timestamps(const std::string& ConfigFile);
// Throws as WriteSignParallelism.
void WriteRfc3161Timestamps(const std::string& ConfigFile, bool Rfc3161);

constexpr std::chrono::milliseconds MaxTimestampInterval{60'000};
// The least time between two requests to one timestamp host (TimestampInterval, in milliseconds):
// none when absent or not a number, cut to the range up to MaxTimestampInterval.
std::chrono::milliseconds ReadTimestampInterval(const std::string& ConfigFile);
