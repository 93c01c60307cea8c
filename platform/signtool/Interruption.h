#pragma once
// SIGTERM, SIGHUP and SIGINT are held back while files are signed and read from a descriptor
// instead, so that an interrupted run can remove what it made before it ends by that signal.
#include <functional>

struct TInterrupted {
  int Signal;
};

// Blocks the three signals; from then on they only make InterruptionDescriptor readable.
void HoldBackInterruptions();
// Readable once one of them has arrived; -1 before HoldBackInterruptions.
int InterruptionDescriptor();
// Throws TInterrupted when one of them has arrived; the descriptor stays readable.
void ThrowIfInterrupted();
// Ends the process by Signal, as it would have ended without being held back.
[[noreturn]] void EndBy(int Signal);
// Runs Work with the interruptions held back and a vanished reader of the output ignored, and
// ends by the signal when Work is interrupted; else Work's exit code.
int RunInterruptibly(const std::function<int()>& Work);
