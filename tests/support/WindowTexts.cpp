#include "support/WindowTexts.h"

#include <QAbstractButton>
#include <algorithm>
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "support/PromptRecorder.h"
#include "ui/uFrmMain.h"

namespace {
QString Line(const QObject* Object, const QString& Text) { return Object->objectName() + '\t' + Text; }
}  // namespace

QStringList WindowTexts(const TFrmMain& Form) {
  QStringList Lines;
  for (const QLabel* Label : Form.findChildren<QLabel*>()) Lines << Line(Label, Label->text());
  for (const QAbstractButton* Button : Form.findChildren<QAbstractButton*>()) Lines << Line(Button, Button->text());
  for (const QGroupBox* Box : Form.findChildren<QGroupBox*>()) Lines << Line(Box, Box->title());
  for (const QMenu* Menu : Form.findChildren<QMenu*>())
    for (const QAction* Action : Menu->actions())
      if (!Action->isSeparator()) Lines << Line(Action, Action->text());
  for (const QAbstractItemView* View : Form.findChildren<QAbstractItemView*>()) {
    const QAbstractItemModel* Model = View->model();
    if (Model == nullptr || View->objectName().isEmpty()) continue;
    for (int Column = 0; Column < Model->columnCount(); ++Column)
      Lines << Line(View, Model->headerData(Column, Qt::Horizontal).toString());
  }
  for (const QComboBox* Box : Form.findChildren<QComboBox*>())
    if (Box->count() > 0) Lines << Line(Box, Box->itemText(0));
  // Widgets without a name belong to Qt (the combo boxes' own views and buttons); a picture
  // button has no text.
  Lines.removeIf([](const QString& Entry) { return Entry.startsWith('\t') || Entry.endsWith('\t'); });
  Lines.sort();
  return Lines;
}

QString EmptyStartPrompt(TFrmMain& Form) {
  const PromptRecorder Prompts;
  Form.btnAddSignClick();
  if (Prompts.Shown().empty()) return {};
  return QString::fromStdString(Prompts.Last().Title) + '\t' + QString::fromStdString(Prompts.Last().Text);
}

QString QtOkButtonText() {
  const QDialogButtonBox Buttons(QDialogButtonBox::Ok);
  return Buttons.button(QDialogButtonBox::Ok)->text();
}

bool HasChineseCharacter(const QString& Text) {
  return std::any_of(Text.begin(), Text.end(), [](QChar Character) {
    return Character.script() == QChar::Script_Han;
  });
}
