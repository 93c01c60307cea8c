#include "common/uPubFunc.h"
#include "ui/TFrmFileProperties.h"

void ShowFileProperties(const std::string& Path) { TFrmFileProperties::Open(QString::fromStdString(Path)); }
