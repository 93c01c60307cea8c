#include "support/Process.h"

#include <QProcess>
#include <QStringDecoder>
#include <QStringList>

TProcessResult RunProcess(const std::string& Program, const std::vector<std::string>& Args,
                          const std::string& StdIn, int TimeoutMs) {
  // Decoded so that an argument's leading byte-order mark reaches the program too.
  QStringList Arguments;
  for (const std::string& Arg : Args)
    Arguments << QString(QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom)
                             .decode(QByteArrayView(Arg.data(), static_cast<qsizetype>(Arg.size()))));

  QProcess Child;
  Child.start(QString::fromStdString(Program), Arguments);
  TProcessResult Result;
  Result.Started = Child.waitForStarted(TimeoutMs);
  if (!Result.Started) return Result;

  if (!StdIn.empty()) Child.write(StdIn.data(), static_cast<qint64>(StdIn.size()));
  Child.closeWriteChannel();
  const bool Finished = Child.waitForFinished(TimeoutMs);
  if (!Finished) {
    Child.kill();
    Child.waitForFinished();
  }
  Result.Out = Child.readAllStandardOutput().toStdString();
  Result.Err = Child.readAllStandardError().toStdString();
  if (Finished && Child.exitStatus() == QProcess::NormalExit) Result.ExitCode = Child.exitCode();
  return Result;
}
