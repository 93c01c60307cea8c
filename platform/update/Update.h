#pragma once
// The update component's entry points.
#define UPDATE_EXPORT __attribute__((visibility("default")))

extern "C" {
// Fetches the update text at UpdateInfoUrl (at most 10 s for the whole exchange, the windows
// keep painting meanwhile) and, when it announces a version newer than the program's, asks
// whether to open the download page, which must lie on the same host and port. Failures of any kind show nothing. OwnerWindow is the
// native id of the window the question belongs to, or null.
UPDATE_EXPORT void DoUpdate(void* OwnerWindow, const char* UpdateInfoUrl);

// Test seams. A question handler answers instead of a person: 6 (Yes) or 7 (No); null restores
// the message box. A time limit of 0 or less restores 10 s.
typedef int (*TUpdateQuestion)(void* Context, const char* Title, const char* Text);
UPDATE_EXPORT void UpdateSetQuestionHandler(TUpdateQuestion Handler, void* Context);
UPDATE_EXPORT void UpdateSetTimeLimit(int Milliseconds);
}
