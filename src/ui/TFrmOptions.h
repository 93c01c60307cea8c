#pragma once
// The options dialog, opened from the file list's pop-up menu.
#include <QDialog>

#include "history/LanguageSetting.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TFrmOptions : public QDialog {
  Q_OBJECT

 public:
  TFrmOptions(int SignParallelism, bool Rfc3161Timestamps, const QString& VerifyTrustFile, TLanguageSetting Language,
              QWidget* Parent);

  QSpinBox* edtSignParallelism;
  QComboBox* cbTimestampProtocol;
  QLineEdit* edtVerifyTrustFile;
  QPushButton* btnVerifyTrustFile;  // picks the file
  QComboBox* cbLanguage;

  int SignParallelism() const;
  bool Rfc3161Timestamps() const;
  QString VerifyTrustFile() const;
  TLanguageSetting Language() const;
};
