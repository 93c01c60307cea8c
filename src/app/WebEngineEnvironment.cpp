#include "app/WebEngineEnvironment.h"

#include <QCoreApplication>
#include <QtGlobal>
#include <unistd.h>

namespace {
bool HasDisplay() {
  if (qEnvironmentVariable("QT_QPA_PLATFORM").startsWith("offscreen")) return false;
  return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}
}  // namespace

void PrepareWebEngine() {
  if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  if (!HasDisplay()) {
    QByteArray Flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!Flags.contains("--disable-gpu")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (Flags + " --disable-gpu").trimmed());
  }
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
