// The options dialog from the list's pop-up menu.
#include "history/LanguageSetting.h"
#include "history/OptionsStore.h"
#include "ui/TFrmOptions.h"
#include "ui/uFrmMain.h"

void TFrmMain::pmiOptionsClick() {
  const int Shown = ReadSignParallelism(FConfigFile);
  const bool ShownRfc3161 = ReadRfc3161Timestamps(FConfigFile);
  const QString ShownTrustFile = QString::fromStdString(ReadVerifyTrustFile(FConfigFile));
  const TLanguageSetting ShownLanguage = ReadLanguageSetting(FConfigFile);
  TFrmOptions Dialog(Shown, ShownRfc3161, ShownTrustFile, ShownLanguage, this);
  if (Dialog.exec() != QDialog::Accepted) return;
  // Only a change is written, so a value the file holds out of range stays as it is unless the
  // user picks another.
  if (Dialog.SignParallelism() != Shown) WriteSignParallelism(FConfigFile, Dialog.SignParallelism());
  if (Dialog.Rfc3161Timestamps() != ShownRfc3161) WriteRfc3161Timestamps(FConfigFile, Dialog.Rfc3161Timestamps());
  if (Dialog.VerifyTrustFile() != ShownTrustFile) WriteVerifyTrustFile(FConfigFile, Dialog.VerifyTrustFile().toStdString());
  // The window keeps its language until the next start.
  if (Dialog.Language() != ShownLanguage) WriteLanguageSetting(FConfigFile, Dialog.Language());
}
