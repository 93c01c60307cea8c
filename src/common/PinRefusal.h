#pragma once
// A token refusing the PIN: how signtool.exe words it (as Windows does) and how its caller
// recognises it, so that no further file presents a PIN the token has refused.
#include <cstdint>
#include <string_view>

enum class TPinRefusal : std::uint8_t { None, Wrong, Locked };

// The text that follows "SignTool Error: "; empty for None.
std::string_view PinRefusalText(TPinRefusal Refusal);
// The refusal a signtool.exe run reports on a line of its error output of its own.
TPinRefusal PinRefusalReported(std::string_view ErrorOutput);
