#pragma once
// A token refusing the PIN: how signtool.exe words it (as Windows does) and how its caller
// recognises it, so that no further file presents a PIN the token has refused.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/MessageCatalogue.h"

enum class TPinRefusal : std::uint8_t { None, Wrong, Locked };

// The text that follows "SignTool Error: "; empty for None.
std::string PinRefusalText(TPinRefusal Refusal, TMessageLanguage Language);
// The refusal a signtool.exe run reports on a line of its error output of its own, in either
// language.
TPinRefusal PinRefusalReported(std::string_view ErrorOutput);
