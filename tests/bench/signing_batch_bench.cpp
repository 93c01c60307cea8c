// 200 program files signed through the window's batch, against the same 200 signed by running
// signtool.exe in a plain loop; and how late the window's event loop runs meanwhile.
// Run by hand: build/bin/signing_batch_bench
#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QWebEngineView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "app/TApplication.h"
#include "common/uPubFunc.h"
#include "ui/TFileListView.h"
#include "signing/SignCommand.h"
#include "support/PeFixtures.h"
#include "support/PromptRecorder.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"
#include "ui/uFrmMain.h"
#include "vendor/TWebBrowseEx.h"

namespace {
constexpr int FileCount = 200;
constexpr int TickMs = 5;

std::vector<std::string> MakePrograms(const QString& Folder, const std::vector<std::uint8_t>& Image) {
  QDir().mkpath(Folder);
  std::vector<std::string> Paths;
  for (int I = 0; I < FileCount; ++I) {
    Paths.push_back(QDir(Folder).filePath(QString("app%1.exe").arg(I)).toStdString());
    WriteBytes(Paths.back(), Image);
  }
  return Paths;
}

double Percentile(std::vector<double> Values, double Fraction) {
  if (Values.empty()) return 0;
  std::sort(Values.begin(), Values.end());
  const auto Index = static_cast<std::size_t>(Fraction * static_cast<double>(Values.size() - 1));
  return Values[Index];
}

void SigningBatch200(benchmark::State& State) {
  TimestampServer Tsa;
  const TSignSettings Settings{TestPki().PfxPath, TestPki().PfxPassword, Tsa.Url(), "Benchmark build"};
  const std::vector<std::uint8_t> Image = BuildPe({TPeKind::Exe32, 256 * 1024, true});
  QTemporaryDir Folder;
  PromptRecorder Prompts;
  QDir::setCurrent(QCoreApplication::applicationDirPath());

  int LoopFailures = 0;
  // The plain loop, timed before and after the window so that a drift in the machine's load
  // weighs on both sides alike.
  const auto TimeLoop = [&](const QString& Name) {
    const std::vector<std::string> LoopFiles = MakePrograms(Folder.filePath(Name), Image);
    QElapsedTimer Clock;
    Clock.start();
    for (const std::string& File : LoopFiles) {
      std::string ErrorText;
      if (!RunAndCapture(SignCommandLine(Settings, File), ErrorText)) ++LoopFailures;
    }
    return static_cast<double>(Clock.nsecsElapsed()) / 1e9;
  };

  for (auto _ : State) {
    const double LoopBefore = TimeLoop("loop-before");
    QElapsedTimer Clock;

    // The window.
    const std::vector<std::string> WindowFiles = MakePrograms(Folder.filePath("window"), Image);
    TFrmMain Frm;
    Frm.FConfigFile = Folder.filePath("config.ini").toStdString();
    Frm.LoadHistory();
    // A batch starts long after the window has opened: let the banner's browser settle first.
    QSignalSpy BannerLoaded(Frm.wbAD, &QWebEngineView::loadFinished);
    Frm.show();
    if (!QTest::qWaitForWindowExposed(&Frm)) std::printf("the window was never exposed\n");
    if (!BannerLoaded.wait(30000)) std::printf("the banner did not finish loading\n");
    QTest::qWait(2000);
    for (const std::string& File : WindowFiles) Frm.vstFiles->Files()->Append(File);
    Frm.cbFile->setEditText(QString::fromStdString(Settings.CertFile));
    Frm.edtPwd->setText(QString::fromStdString(Settings.Password));
    Frm.cbTimeStamp->setEditText(QString::fromStdString(Settings.TimeStamp));
    Frm.cbDescription->setEditText(QString::fromStdString(Settings.Description));

    std::vector<double> LatenessMs;
    QElapsedTimer SinceTick;
    QTimer Ticker;
    Ticker.setTimerType(Qt::PreciseTimer);
    Ticker.setInterval(TickMs);
    QObject::connect(&Ticker, &QTimer::timeout, [&] {
      LatenessMs.push_back(std::max(0.0, static_cast<double>(SinceTick.nsecsElapsed()) / 1e6 - TickMs));
      SinceTick.restart();
    });

    Clock.start();
    SinceTick.start();
    Ticker.start();
    QTest::mouseClick(Frm.btnAddSign, Qt::LeftButton);
    while (!Frm.btnAddSign->isEnabled()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    Ticker.stop();
    const double WindowSeconds = static_cast<double>(Clock.nsecsElapsed()) / 1e9;
    const double LoopAfter = TimeLoop("loop-after");
    const double LoopSeconds = (LoopBefore + LoopAfter) / 2;

    int WindowFailures = 0;
    const TFileListModel* Files = Frm.vstFiles->Files();
    for (auto Id = Files->First(); Id; Id = Files->Next(*Id))
      if (Files->Item(*Id)->Status != fsOk) ++WindowFailures;

    State.counters["loop_s"] = LoopSeconds;
    State.counters["window_s"] = WindowSeconds;
    State.counters["ratio"] = WindowSeconds / LoopSeconds;
    State.counters["p99_lateness_ms"] = Percentile(LatenessMs, 0.99);
    State.counters["max_lateness_ms"] = Percentile(LatenessMs, 1.0);
    State.counters["failures"] = LoopFailures + WindowFailures;
    std::printf("loop %.2f s (%.2f before, %.2f after), window %.2f s, ratio %.3f; event loop lateness p99 %.1f ms, max %.1f ms over %zu "
                "ticks; failures %d + %d; summary: %s\n",
                LoopSeconds, LoopBefore, LoopAfter, WindowSeconds, WindowSeconds / LoopSeconds, Percentile(LatenessMs, 0.99),
                Percentile(LatenessMs, 1.0), LatenessMs.size(), LoopFailures, WindowFailures,
                Prompts.Shown().empty() ? "none" : Prompts.Last().Text.c_str());
  }
}
BENCHMARK(SigningBatch200)->Iterations(1)->Unit(benchmark::kSecond);
}  // namespace

int main(int Argc, char** Argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication Application(Argc, Argv);
  benchmark::Initialize(&Argc, Argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
