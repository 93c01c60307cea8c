#pragma once
// The call into the update library. Tests count or replace it through SetUpdateEntry.
using TUpdateEntry = void (*)(void* OwnerWindow, const char* UpdateInfoUrl);

void CallUpdate(void* OwnerWindow, const char* UpdateInfoUrl);
// Test seam: nullptr goes back to the library's DoUpdate.
void SetUpdateEntry(TUpdateEntry Entry);
