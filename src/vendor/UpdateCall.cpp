#include "vendor/UpdateCall.h"

#include "Update.h"

namespace {
TUpdateEntry Entry = DoUpdate;
}

void CallUpdate(void* OwnerWindow, const char* UpdateInfoUrl) { Entry(OwnerWindow, UpdateInfoUrl); }

void SetUpdateEntry(TUpdateEntry NewEntry) { Entry = NewEntry ? NewEntry : DoUpdate; }
