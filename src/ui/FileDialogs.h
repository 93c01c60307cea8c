#pragma once
// The file dialogs, behind seams so tests can answer them.
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

// The chosen file's full path, or nothing when the user cancels.
std::optional<QString> AskOpenFileName(QWidget* Parent, const QString& Filter);
// The chosen files' full paths, in the dialog's order; empty when the user cancels.
QStringList AskOpenFileNames(QWidget* Parent, const QString& Filter);
// The chosen folder's full path, or nothing when the user cancels.
std::optional<QString> AskFolderName(QWidget* Parent);
// The full path of the file to write, the dialog offering Suggested; nothing when the user cancels.
// The dialog asks before an existing file is overwritten.
std::optional<QString> AskSaveFileName(QWidget* Parent, const QString& Filter, const QString& Suggested);

using TOpenFileHandler = std::function<std::optional<QString>(const QString& Filter)>;
void SetOpenFileHandler(TOpenFileHandler Handler);
using TOpenFilesHandler = std::function<QStringList(const QString& Filter)>;
void SetOpenFilesHandler(TOpenFilesHandler Handler);
using TFolderHandler = std::function<std::optional<QString>()>;
void SetFolderHandler(TFolderHandler Handler);
using TSaveFileHandler = std::function<std::optional<QString>(const QString& Filter, const QString& Suggested)>;
void SetSaveFileHandler(TSaveFileHandler Handler);
