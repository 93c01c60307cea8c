#pragma once
// A key message as the browser host's accelerator and shortcut tests see it: the message kind
// and the virtual-key code in the low byte of WParam.
#include <cstdint>
#include <functional>

inline constexpr std::uint32_t WM_KEYDOWN = 0x0100;
inline constexpr std::uint32_t WM_SYSKEYDOWN = 0x0104;

inline constexpr int VK_RETURN = 0x0D;
inline constexpr int VK_MENU = 0x12;
inline constexpr int VK_LCONTROL = 0xA2;
inline constexpr int VK_RCONTROL = 0xA3;
inline constexpr int VK_LMENU = 0xA4;

struct TKeyMessage {
  std::uint32_t Message = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
};

// The state of a virtual key; the high bit (a negative value) means the key is down.
using TKeyStateReader = std::function<std::int16_t(int VirtualKey)>;

// Reads the keyboard through Qt. Qt reports Ctrl and Alt without telling left from right, so
// both Ctrl keys read as down while either is held, and likewise both Alt keys.
std::int16_t QtKeyState(int VirtualKey);

// The virtual-key code of a Qt key, 0 when it has none here (letters and digits map to their
// upper-case character, as virtual-key codes do).
int VirtualKeyOf(int QtKey);
