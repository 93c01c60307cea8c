#include "app/TApplication.h"

#include <exception>

#include "ui/ErrorReport.h"

TApplication::TApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {
  setApplicationName("Quillory");
  setApplicationVersion(QUILLORY_VERSION);
  setOrganizationName("Quillory");
}

bool TApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (const std::exception& Error) {
    ShowErrorReport(Error.what());
  } catch (...) {
    ShowErrorReport("Unknown error");
  }
  return false;
}
