#pragma once
// What a user reads on the main window, for comparing the window between languages and runs.
#include <QString>
#include <QStringList>

class TFrmMain;

// One "name<TAB>text" line per caption in a fixed order: labels, buttons, group box titles,
// pop-up menu entries, list column headers and each history box's command entry.
QStringList WindowTexts(const TFrmMain& Form);

// The title and text of the prompt Start shows when nothing is filled in, as one line.
QString EmptyStartPrompt(TFrmMain& Form);

// The caption Qt gives a standard OK button in the current language.
QString QtOkButtonText();

bool HasChineseCharacter(const QString& Text);
