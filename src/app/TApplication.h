#pragma once
#include <QApplication>

// The application object. Every event passes through notify(), so an exception that leaves an
// event handler ends there and is shown as the standard error report.
class TApplication : public QApplication {
 public:
  TApplication(int& Argc, char** Argv);
  bool notify(QObject* Receiver, QEvent* Event) override;
};
