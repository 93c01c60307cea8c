// The four drop-down histories and config.ini.
#include "ui/uFrmMain.h"

void TFrmMain::LoadHistory() {}
void TFrmMain::LoadHistorySection(const std::string&, QComboBox*) {}
void TFrmMain::RememberText(QComboBox*) {}
void TFrmMain::SaveHistory() {}
void TFrmMain::ClearHistory(QComboBox*) {}
void TFrmMain::cbDescriptionCloseUp(QComboBox*) {}
