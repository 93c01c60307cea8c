#include "vendor/KeyMessage.h"

#include <QGuiApplication>

std::int16_t QtKeyState(int VirtualKey) {
  const Qt::KeyboardModifiers Held = QGuiApplication::queryKeyboardModifiers();
  bool Down = false;
  switch (VirtualKey) {
    case VK_LCONTROL:
    case VK_RCONTROL: Down = Held.testFlag(Qt::ControlModifier); break;
    case VK_MENU:
    case VK_LMENU: Down = Held.testFlag(Qt::AltModifier); break;
    default: break;
  }
  return Down ? static_cast<std::int16_t>(0x8000 - 0x10000) : 0;
}

int VirtualKeyOf(int QtKey) {
  if ((QtKey >= Qt::Key_A && QtKey <= Qt::Key_Z) || (QtKey >= Qt::Key_0 && QtKey <= Qt::Key_9))
    return QtKey;  // Qt's codes for these are their upper-case characters
  if (QtKey >= Qt::Key_F1 && QtKey <= Qt::Key_F24) return 0x70 + (QtKey - Qt::Key_F1);
  switch (QtKey) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab: return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    default: return 0;
  }
}
