#include "app/WebEngineEnvironment.h"

#include <QCoreApplication>
#include <QtGlobal>
#include <unistd.h>

namespace {
// Warnings and errors go on to the terminal as before; debug and information messages (the
// engine's start-up report among them) are for developers' builds.
QtMessageHandler DefaultHandler = nullptr;

void DropDebugAndInfo(QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
  if (Type == QtDebugMsg || Type == QtInfoMsg) return;
  if (DefaultHandler != nullptr) DefaultHandler(Type, Context, Text);
}

bool HasDisplay() {
  if (qEnvironmentVariable("QT_QPA_PLATFORM").startsWith("offscreen")) return false;
  return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}
}  // namespace

void PrepareWebEngine() {
  if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QByteArray Flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  if (!HasDisplay() && !Flags.contains("--disable-gpu")) Flags += " --disable-gpu";
#ifdef NDEBUG
  // A release build keeps the engine's own log lines off the terminal too, fatal ones aside.
  if (!Flags.contains("--log-level")) Flags += " --log-level=3";
  static const QtMessageHandler Previous = qInstallMessageHandler(&DropDebugAndInfo);  // once
  DefaultHandler = Previous;
#endif
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", Flags.trimmed());
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
