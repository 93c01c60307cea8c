#pragma once
// A PIN the token refused, noted in the token's lock file for the runs that were already under
// way then: they fail at once instead of presenting that PIN again, as a token locks itself after
// a few wrong PINs. Runs begun later try their PIN themselves. The note holds a salted, slow
// digest of the PIN, never the PIN, and is dropped once no run begun before it can still be
// under way.
#include <string_view>

#include "common/PinRefusal.h"

// What was noted in LockFile (held) since this process began that concerns Pin: Wrong for this
// PIN, Locked for any.
TPinRefusal RefusalNotedMeanwhile(int LockFile, std::string_view Pin);
// Notes in LockFile (held) that the token refused Pin.
void NoteRefusal(int LockFile, TPinRefusal Refusal, std::string_view Pin);
