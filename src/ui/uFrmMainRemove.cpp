// Remove: the removal batch.
#include "ui/uFrmMain.h"

void TFrmMain::btnDelSignClick() {}
