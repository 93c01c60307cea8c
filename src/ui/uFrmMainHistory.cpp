// The four drop-down histories and config.ini.
#include <QComboBox>
#include <QCoreApplication>
#include <array>
#include <string>
#include <vector>

#include "ui/MessageBox.h"
#include "common/TextUtil.h"
#include "common/uPubFunc.h"
#include "history/HistoryList.h"
#include "history/HistorySections.h"
#include "history/HistoryStore.h"
#include "ui/uFrmMain.h"

namespace {
std::string EditText(const QComboBox* Box) { return Box->currentText().toStdString(); }

void ResetToCommandOnly(QComboBox* Box) {
  Box->clear();
  Box->addItem(QCoreApplication::translate("TFrmMain", "<清空记录>"));
}

// The remembered values, each as the file held it when it came from there.
std::vector<std::string> HistoryItems(const QComboBox* Box) {
  std::vector<std::string> Items;
  for (int I = 1; I < Box->count(); ++I) {
    const QVariant Loaded = Box->itemData(I);
    Items.push_back(Loaded.isValid() ? Loaded.toByteArray().toStdString() : Box->itemText(I).toStdString());
  }
  return Items;
}

void EmptyEditText(QComboBox* Box) {
  Box->setCurrentIndex(-1);
  Box->setEditText(QString());
}
}  // namespace

void TFrmMain::LoadHistory() {
  LoadHistorySection(HistorySections[0], cbDescription);
  LoadHistorySection(HistorySections[1], cbFile);
  LoadHistorySection(HistorySections[2], cbURL);
  LoadHistorySection(HistorySections[3], cbTimeStamp);
}

void TFrmMain::LoadHistorySection(const std::string& Section, QComboBox* Box) {
  const QString Typed = Box->currentText();
  ResetToCommandOnly(Box);
  // The file's own bytes go with each item: a value that is no UTF-8 is shown with replacement
  // characters but written back as it was.
  for (const std::string& Value : HistoryEntries(THistoryStore(FConfigFile), Section))
    Box->addItem(QString::fromStdString(Value), QByteArray::fromStdString(Value));
  // Filling the list must not put an item into the edit text.
  Box->setCurrentIndex(-1);
  Box->setEditText(Typed);
}

void TFrmMain::RememberText(QComboBox* Box) {
  const std::string Text = EditText(Box);
  for (int I = 1; I < Box->count(); ++I)
    if (SameTextAscii(Box->itemText(I).toStdString(), Text)) return;
  Box->addItem(QString::fromStdString(Text));
}

void TFrmMain::SaveHistory() {
  const std::array<QComboBox*, 4> Boxes = {cbDescription, cbFile, cbURL, cbTimeStamp};
  for (QComboBox* Box : Boxes) RememberText(Box);
  THistoryStore Store(FConfigFile);
  for (QComboBox* Box : Boxes) {
    const char* Section = HistorySectionOf(HistoryTag(Box));
    if (Section == nullptr) continue;
    WriteHistory(Store, Section, HistoryItems(Box));
  }
  Store.Save();
}

void TFrmMain::ClearHistory(QComboBox* Box) {
  ResetToCommandOnly(Box);
  const char* Section = HistorySectionOf(HistoryTag(Box));
  if (Section == nullptr) return;
  THistoryStore Store(FConfigFile);
  const std::vector<std::string> Keys = Store.Keys(Section);
  if (Keys.empty()) return;
  for (const std::string& Key : Keys) Store.Delete(Section, Key);
  try {
    Store.Save();
  } catch (const std::exception&) {
    // Clearing reports nothing when the file cannot be written.
  }
}

void TFrmMain::cbDescriptionCloseUp(QComboBox* Sender) {
  if (Sender->currentIndex() != 0) return;
  if (ShowPrompt(tr("你确定要清除历史记录吗?").toStdString(), "", pkQuestion) == idYes) ClearHistory(Sender);
  EmptyEditText(Sender);
}
