#pragma once
// Marks a text that this code returns as it is, but that the window shows in the user's
// language. The translation tools collect each marked text under its context; the window
// translates it under the same context when it shows it.
#define DISPLAYED_TEXT(Context, Text) Text
