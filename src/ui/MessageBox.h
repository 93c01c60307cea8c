#pragma once
// The one place a message box is shown. Style carries the Windows message-box bits the
// program's prompts are described with: 0x04 Yes/No buttons (else OK), 0x10 error icon,
// 0x20 question, 0x30 warning, 0x40 information.
#include <functional>
#include <string>

enum : unsigned { mbYesNo = 0x04, mbIconError = 0x10, mbIconQuestion = 0x20, mbIconWarning = 0x30,
                  mbIconInformation = 0x40 };
enum : int { idOk = 1, idYes = 6, idNo = 7 };

struct TMessageBoxRequest {
  std::string Title;
  std::string Text;
  unsigned Style = 0;
};

// Shows the box application-modal without an owner window, on the GUI thread; a call from
// another thread blocks until the box is closed. Returns idOk, idYes or idNo.
int ShowMessageBox(const TMessageBoxRequest& Request);

// Test seam: while a handler is set it answers every box instead of a person (on the GUI thread).
using TMessageBoxHandler = std::function<int(const TMessageBoxRequest&)>;
void SetMessageBoxHandler(TMessageBoxHandler Handler);
