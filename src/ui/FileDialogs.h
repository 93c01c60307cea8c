#pragma once
// The file-open dialog, behind a seam so tests can answer it.
#include <QString>
#include <functional>
#include <optional>

class QWidget;

// The chosen file's full path, or nothing when the user cancels.
std::optional<QString> AskOpenFileName(QWidget* Parent, const QString& Filter);

using TOpenFileHandler = std::function<std::optional<QString>(const QString& Filter)>;
void SetOpenFileHandler(TOpenFileHandler Handler);
