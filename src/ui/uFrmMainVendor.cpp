// The vendor's home page and update call.
#include <QTimer>

#include "ui/uFrmMain.h"

void TFrmMain::Button1Click() {}

void TFrmMain::TimerTimer() { Timer->stop(); }
