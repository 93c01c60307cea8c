#include "ui/FileDialogs.h"

#include <QFileDialog>

namespace {
TOpenFileHandler& Handler() {
  static TOpenFileHandler Instance;
  return Instance;
}
}  // namespace

std::optional<QString> AskOpenFileName(QWidget* Parent, const QString& Filter) {
  if (Handler()) return Handler()(Filter);
  const QString Chosen = QFileDialog::getOpenFileName(Parent, {}, {}, Filter);
  if (Chosen.isEmpty()) return std::nullopt;
  return Chosen;
}

void SetOpenFileHandler(TOpenFileHandler NewHandler) { Handler() = std::move(NewHandler); }
