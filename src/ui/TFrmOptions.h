#pragma once
// The options dialog, opened from the file list's pop-up menu.
#include <QDialog>

class QSpinBox;

class TFrmOptions : public QDialog {
  Q_OBJECT

 public:
  TFrmOptions(int SignParallelism, QWidget* Parent);

  QSpinBox* edtSignParallelism;

  int SignParallelism() const;
};
