#pragma once
// Waits that end at once when the run is interrupted. An interruption is a descriptor that
// becomes readable (a signalfd, an eventfd, a pipe); it is only watched, never read, so whoever
// owns it still finds out what happened. -1 watches nothing.
#include <chrono>

using TSteadyClock = std::chrono::steady_clock;

// True once the descriptor is readable.
bool IsInterrupted(int Interruption);
// Sleeps until Until; false when interrupted first (or already).
bool WaitUntil(TSteadyClock::time_point Until, int Interruption);
