#include "ui/FileDialogs.h"

#include <QFileDialog>

namespace {
template <class THandler>
THandler& Handler() {
  static THandler Instance;
  return Instance;
}
}  // namespace

std::optional<QString> AskOpenFileName(QWidget* Parent, const QString& Filter) {
  if (Handler<TOpenFileHandler>()) return Handler<TOpenFileHandler>()(Filter);
  const QString Chosen = QFileDialog::getOpenFileName(Parent, {}, {}, Filter);
  if (Chosen.isEmpty()) return std::nullopt;
  return Chosen;
}

QStringList AskOpenFileNames(QWidget* Parent, const QString& Filter) {
  if (Handler<TOpenFilesHandler>()) return Handler<TOpenFilesHandler>()(Filter);
  return QFileDialog::getOpenFileNames(Parent, {}, {}, Filter);
}

std::optional<QString> AskFolderName(QWidget* Parent) {
  if (Handler<TFolderHandler>()) return Handler<TFolderHandler>()();
  const QString Chosen = QFileDialog::getExistingDirectory(Parent);
  if (Chosen.isEmpty()) return std::nullopt;
  return Chosen;
}

std::optional<QString> AskSaveFileName(QWidget* Parent, const QString& Filter, const QString& Suggested) {
  if (Handler<TSaveFileHandler>()) return Handler<TSaveFileHandler>()(Filter, Suggested);
  const QString Chosen = QFileDialog::getSaveFileName(Parent, {}, Suggested, Filter);
  if (Chosen.isEmpty()) return std::nullopt;
  return Chosen;
}

void SetOpenFileHandler(TOpenFileHandler NewHandler) { Handler<TOpenFileHandler>() = std::move(NewHandler); }
void SetOpenFilesHandler(TOpenFilesHandler NewHandler) { Handler<TOpenFilesHandler>() = std::move(NewHandler); }
void SetFolderHandler(TFolderHandler NewHandler) { Handler<TFolderHandler>() = std::move(NewHandler); }
void SetSaveFileHandler(TSaveFileHandler NewHandler) { Handler<TSaveFileHandler>() = std::move(NewHandler); }
