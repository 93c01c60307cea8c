#pragma once
// The window starts the run for its next file while the current one is still being signed, so
// that loading the program and OpenSSL overlaps that work. Such a run (AwaitTurnVariable set)
// readies itself and then waits: one byte on standard input gives it its turn; the end of the
// input means the window has dropped it (stopped, settings changed, closed), and it ends without
// having read its key or any file.

// True at once without the variable; else after OpenSSL's set-up, once the turn has come.
// False when the run was dropped. Throws TInterrupted when interrupted while waiting.
bool AwaitTurn();
