#pragma once
// The window of the demo and of the screenshots, opened and used as a person would.
#include <QList>
#include <QString>
#include <QUrl>

#include <string>

class QWidget;
class TFrmMain;

// Form opened with its histories in ConfigFile; false, said on stderr, when it did not appear.
bool ShowWindow(TFrmMain& Form, const std::string& ConfigFile);

// Each character goes in as the text of a key press, which also carries Chinese; DelayMs before
// each.
void TypeKeys(QWidget* Box, const QString& Text, int DelayMs = 0);

// The drop a file manager makes: the drag enters the list, then lets go of the files there.
void DropOnList(TFrmMain& Form, const QList<QUrl>& Files);
