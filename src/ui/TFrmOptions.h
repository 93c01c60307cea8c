#pragma once
// The options dialog, opened from the file list's pop-up menu.
#include <QDialog>

class QLineEdit;
class QPushButton;
class QSpinBox;

class TFrmOptions : public QDialog {
  Q_OBJECT

 public:
  TFrmOptions(int SignParallelism, const QString& VerifyTrustFile, QWidget* Parent);

  QSpinBox* edtSignParallelism;
  QLineEdit* edtVerifyTrustFile;
  QPushButton* btnVerifyTrustFile;  // picks the file

  int SignParallelism() const;
  QString VerifyTrustFile() const;
};
