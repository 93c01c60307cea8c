#pragma once
// A text the Qt-free routines mark for translation (see common/DisplayedText.h), in the user's
// language when the catalogue has it, otherwise unchanged. Safe on any thread.
#include <string>

std::string TranslatedText(const char* Context, const char* Text);
