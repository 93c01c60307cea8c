// Program files signed through the window's batch, against the same files signed in a plain loop
// or with another key, and how late the window's event loop runs meanwhile. QUILLORY_BENCH_FILES
// sets another number of files for all but the first.
// - SigningBatch200: 200 files, the loop running signtool.exe with a key session as the window does;
// - OneAtATimeAgainstOsslsigncode: 200 files of 1 MiB, the PFX and a loopback timestamp server that
//   answers at once; the window signing one file at a time against osslsigncode -ts run once per
//   file, before and after the window;
// - TokenAgainstPfx: the same batch through the window with the key on a SoftHSM2 token against
//   the PFX (before and after the token): the time per file, and the token's logins, counted by
//   OpenSC's pkcs11-spy in front of SoftHSM2;
// - ParallelSigning: 100 files of 1 MiB against a timestamp server that takes 300 ms per request,
//   the loop running osslsigncode, the window signing one file at a time and eight at a time, and
//   eight at a time with a key on a SoftHSM2 token;
// - ThrottlingServer: 40 files eight at a time against a timestamp server that takes 300 ms per
//   request and refuses any request beyond four at once (429 with Retry-After: 1): the time
//   against the bound of 40 x 300 ms / 4 and the requests refused, with the pace learnt from the
//   server alone and with TimestampInterval=75 (300 ms / 4).
// - TrustedSigning: 50 files through the window eight at a time against the loopback Azure Trusted
//   Signing service, which finishes each signature 200 ms after it was asked, against one
//   signtool.exe run signing them one by one through the same service; the ratio of the two.
// Run by hand: build/bin/signing_batch_bench [--benchmark_filter=TokenAgainstPfx]
#include <benchmark/benchmark.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QWebEngineView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include <unistd.h>

#include "BenchSize.h"
#include "SigningBench.h"
#include "TimedRun.h"

#include "app/TApplication.h"
#include "common/uPubFunc.h"
#include "ui/TFileListView.h"
#include "signing/KeySession.h"
#include "signing/SignCommand.h"
#include "support/BusyTimestampServer.h"
#include "support/PeFixtures.h"
#include "support/PromptRecorder.h"
#include "support/ScopedEnvironment.h"
#include "support/SoftToken.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"
#include "support/TrustedSigningService.h"
#include "ui/uFrmMain.h"
#include "vendor/TWebBrowseEx.h"

namespace {
constexpr int TickMs = 5;

std::vector<std::string> MakePrograms(const QString& Folder, const std::vector<std::uint8_t>& Image,
                                      int FileCount) {
  QDir().mkpath(Folder);
  std::vector<std::string> Paths;
  for (int I = 0; I < FileCount; ++I) {
    Paths.push_back(QDir(Folder).filePath(QString("app%1.exe").arg(I)).toStdString());
    WriteBytes(Paths.back(), Image);
  }
  // Written out before any timing starts.
  ::sync();
  return Paths;
}

double Percentile(std::vector<double> Values, double Fraction) {
  if (Values.empty()) return 0;
  std::sort(Values.begin(), Values.end());
  const auto Index = static_cast<std::size_t>(Fraction * static_cast<double>(Values.size() - 1));
  return Values[Index];
}

struct TWindowRun {
  double Seconds = 0;
  double P99LatenessMs = 0, MaxLatenessMs = 0;
  std::size_t Ticks = 0;
  int Failures = 0;
  std::string Summary;
};

// Signs Paths through the window's batch, with SignParallelism and the lines MoreOptions in the
// [Options] of config.ini when given, and watches the window's event loop with a timer meanwhile.
TWindowRun SignThroughWindow(const std::vector<std::string>& Paths, const TSignSettings& Settings,
                             const std::string& Secret, const QString& ConfigFile, std::optional<int> Parallelism,
                             const std::string& MoreOptions = {}) {
  PromptRecorder Prompts;
  QFile::remove(ConfigFile);
  if (Parallelism)
    std::ofstream(ConfigFile.toStdString()) << "[Options]\nSignParallelism=" << *Parallelism << "\n" << MoreOptions;
  TFrmMain Frm;
  Frm.FConfigFile = ConfigFile.toStdString();
  Frm.LoadHistory();
  // A batch starts long after the window has opened: let the banner's browser settle first.
  QSignalSpy BannerLoaded(Frm.wbAD, &QWebEngineView::loadFinished);
  Frm.show();
  if (!QTest::qWaitForWindowExposed(&Frm)) std::printf("the window was never exposed\n");
  if (!BannerLoaded.wait(30000)) std::printf("the banner did not finish loading\n");
  QTest::qWait(2000);
  for (const std::string& File : Paths) Frm.vstFiles->Files()->Append(File);
  Frm.cbFile->setEditText(QString::fromStdString(Settings.CertFile));
  Frm.edtPwd->setText(QString::fromStdString(Secret));
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

  QElapsedTimer Clock;
  Clock.start();
  SinceTick.start();
  Ticker.start();
  QTest::mouseClick(Frm.btnAddSign, Qt::LeftButton);
  // Start is Stop while the batch runs; Remove comes back only when it has ended. The ticker wakes
  // the wait (with a time limit, processEvents would not wait at all, and the loop would spin on a
  // core the batch needs).
  while (!Frm.btnAddSign->isEnabled() || !Frm.btnDelSign->isEnabled())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  Ticker.stop();
  TWindowRun Run;
  Run.Seconds = static_cast<double>(Clock.nsecsElapsed()) / 1e9;
  Run.P99LatenessMs = Percentile(LatenessMs, 0.99);
  Run.MaxLatenessMs = Percentile(LatenessMs, 1.0);
  Run.Ticks = LatenessMs.size();
  const TFileListModel* Files = Frm.vstFiles->Files();
  for (auto Id = Files->First(); Id; Id = Files->Next(*Id))
    if (Files->Item(*Id)->Status != fsOk) ++Run.Failures;
  Run.Summary = Prompts.Shown().empty() ? "none" : Prompts.Last().Text;
  return Run;
}

// The logins OpenSC's spy logged in CallLog.
int LoginsIn(const std::string& CallLog) {
  std::ifstream Stream(CallLog);
  const std::string Calls(std::istreambuf_iterator<char>(Stream), {});
  int Logins = 0;
  for (std::size_t At = Calls.find(": C_Login\n"); At != std::string::npos; At = Calls.find(": C_Login\n", At + 1))
    ++Logins;
  return Logins;
}

void SigningBatch200(benchmark::State& State) {
  TimestampServer Tsa;
  const TSignSettings Settings{TestPki().PfxPath, Tsa.Url(), Description};
  const std::vector<std::uint8_t> Image = BuildPe({TPeKind::Exe32, 256 * 1024, true});
  QTemporaryDir Folder;
  QDir::setCurrent(QCoreApplication::applicationDirPath());
  // The loop's runs sign with a key session of their own, as the window's do.
  const TKeySessionOpening LoopSession = OpenKeySession(TestPki().PfxPath, TestPki().PfxPassword);
  if (!LoopSession.Session) std::printf("no key session: %s\n", LoopSession.Message.toStdString().c_str());

  int LoopFailures = 0;
  // The plain loop, timed before and after the window so that a drift in the machine's load
  // weighs on both sides alike.
  const auto TimeLoop = [&](const QString& Name) {
    const std::vector<std::string> LoopFiles = MakePrograms(Folder.filePath(Name), Image, 200);
    QElapsedTimer Clock;
    Clock.start();
    for (const std::string& File : LoopFiles) {
      std::string ErrorText;
      if (!LoopSession.Session ||
          !RunAndCapture(SignCommandLine(Settings, File), LoopSession.Session->RunEnvironment(), ErrorText))
        ++LoopFailures;
    }
    return static_cast<double>(Clock.nsecsElapsed()) / 1e9;
  };

  for (auto _ : State) {
    const double LoopBefore = TimeLoop("loop-before");
    const std::vector<std::string> WindowFiles = MakePrograms(Folder.filePath("window"), Image, 200);
    const TWindowRun Window = SignThroughWindow(WindowFiles, Settings, TestPki().PfxPassword, Folder.filePath("config.ini"),
                                                std::nullopt);
    const double WindowSeconds = Window.Seconds;
    const double LoopAfter = TimeLoop("loop-after");
    const double LoopSeconds = (LoopBefore + LoopAfter) / 2;
    const int WindowFailures = Window.Failures;

    State.counters["loop_s"] = LoopSeconds;
    State.counters["window_s"] = WindowSeconds;
    State.counters["ratio"] = WindowSeconds / LoopSeconds;
    State.counters["p99_lateness_ms"] = Window.P99LatenessMs;
    State.counters["max_lateness_ms"] = Window.MaxLatenessMs;
    State.counters["failures"] = LoopFailures + WindowFailures;
    std::printf("loop %.2f s (%.2f before, %.2f after), window %.2f s, ratio %.3f; event loop lateness p99 %.1f ms, max %.1f ms over %zu "
                "ticks; failures %d + %d; summary: %s\n",
                LoopSeconds, LoopBefore, LoopAfter, WindowSeconds, WindowSeconds / LoopSeconds, Window.P99LatenessMs,
                Window.MaxLatenessMs, Window.Ticks, LoopFailures, WindowFailures, Window.Summary.c_str());
  }
}
BENCHMARK(SigningBatch200)->Iterations(1)->Unit(benchmark::kSecond);

void OneAtATimeAgainstOsslsigncode(benchmark::State& State) {
  const int Count = BenchSize("QUILLORY_BENCH_FILES", 200);
  TimestampServer Tsa;
  const TSignSettings Settings{TestPki().PfxPath, Tsa.Url(), Description};
  const std::vector<std::uint8_t> Image = BuildPe({TPeKind::Exe32, 1024 * 1024, true});
  QTemporaryDir Folder;

  for (auto _ : State) {
    // The loop before and after the window, so that a drift in the machine's load weighs on both
    // sides alike.
    const int RequestsAtStart = Tsa.RequestCount();
    const TLoopRun Before = OsslsigncodeLoop(MakePrograms(Folder.filePath("loop-before"), Image, Count), Tsa.Url());
    const int RequestsBefore = Tsa.RequestCount() - RequestsAtStart;
    const TWindowRun Window = SignThroughWindow(MakePrograms(Folder.filePath("window"), Image, Count), Settings,
                                                TestPki().PfxPassword, Folder.filePath("config.ini"), 1);
    const int WindowRequests = Tsa.RequestCount() - RequestsAtStart - RequestsBefore;
    const TLoopRun After = OsslsigncodeLoop(MakePrograms(Folder.filePath("loop-after"), Image, Count), Tsa.Url());
    const int RequestsAfter = Tsa.RequestCount() - RequestsAtStart - RequestsBefore - WindowRequests;
    const double LoopSeconds = (Before.Seconds + After.Seconds) / 2;

    State.counters["loop_s"] = LoopSeconds;
    State.counters["window_s"] = Window.Seconds;
    State.counters["ratio"] = Window.Seconds / LoopSeconds;
    State.counters["failures"] = Before.Failures + Window.Failures + After.Failures;
    std::printf("%d files of 1 MiB, PFX, loopback timestamp server: the window one file at a time %.2f s; "
                "osslsigncode -ts once per file %.2f s (%.2f before, %.2f after); ratio %.3f; failures window %d, "
                "loop %d + %d; timestamp requests window %d, loop %d + %d; summary: %s\n",
                Count, Window.Seconds, LoopSeconds, Before.Seconds, After.Seconds, Window.Seconds / LoopSeconds,
                Window.Failures, Before.Failures, After.Failures, WindowRequests, RequestsBefore, RequestsAfter,
                Window.Summary.c_str());
  }
}
BENCHMARK(OneAtATimeAgainstOsslsigncode)->Iterations(1)->Unit(benchmark::kSecond);

void TokenAgainstPfx(benchmark::State& State) {
  const int Count = BenchSize("QUILLORY_BENCH_FILES", 200);
  TimestampServer Tsa;
  const std::vector<std::uint8_t> Image = BuildPe({TPeKind::Exe32, 1024 * 1024, true});
  QTemporaryDir Folder;
  // OpenSC's spy in front of SoftHSM2 logs every call made to the token, by the window and by
  // its signtool.exe runs alike; the token is named through it.
  const std::string CallLog = Folder.filePath("pkcs11-calls.log").toStdString();
  const TScopedEnvironment Spied("PKCS11SPY", SoftToken().Module), SpyLog("PKCS11SPY_OUTPUT", CallLog);
  const TSignSettings Pfx{TestPki().PfxPath, Tsa.Url(), Description};
  const TSignSettings Token{SoftToken().RsaKeyUri + "?module-path=" + Pkcs11SpyModule(), Tsa.Url(), Description};

  for (auto _ : State) {
    // The PFX before and after the token, so that a drift in the machine's load weighs on both
    // sides alike.
    const TWindowRun PfxBefore = SignThroughWindow(MakePrograms(Folder.filePath("pfx-before"), Image, Count), Pfx,
                                                   TestPki().PfxPassword, Folder.filePath("config.ini"), 1);
    const TWindowRun OnToken = SignThroughWindow(MakePrograms(Folder.filePath("token"), Image, Count), Token,
                                                 SoftToken().Pin, Folder.filePath("config.ini"), 1);
    const TWindowRun PfxAfter = SignThroughWindow(MakePrograms(Folder.filePath("pfx-after"), Image, Count), Pfx,
                                                  TestPki().PfxPassword, Folder.filePath("config.ini"), 1);
    const double PfxMs = (PfxBefore.Seconds + PfxAfter.Seconds) / 2 * 1000 / Count;
    const double TokenMs = OnToken.Seconds * 1000 / Count;
    const int Logins = LoginsIn(CallLog);

    State.counters["pfx_ms_per_file"] = PfxMs;
    State.counters["token_ms_per_file"] = TokenMs;
    State.counters["ratio"] = TokenMs / PfxMs;
    State.counters["logins"] = Logins;
    State.counters["failures"] = PfxBefore.Failures + OnToken.Failures + PfxAfter.Failures;
    std::printf("%d files of 1 MiB through the window one at a time, loopback timestamp server: PFX %.1f ms a file "
                "(%.2f s before, %.2f s after), SoftHSM2 token %.1f ms a file (%.2f s); ratio %.3f; C_Login calls "
                "%d; failures PFX %d + %d, token %d; summary: %s\n",
                Count, PfxMs, PfxBefore.Seconds, PfxAfter.Seconds, TokenMs, OnToken.Seconds, TokenMs / PfxMs, Logins,
                PfxBefore.Failures, PfxAfter.Failures, OnToken.Failures, OnToken.Summary.c_str());
  }
}
BENCHMARK(TokenAgainstPfx)->Iterations(1)->Unit(benchmark::kSecond);

void ParallelSigning(benchmark::State& State) {
  const int Count = BenchSize("QUILLORY_BENCH_FILES", 100);
  TimestampServer Tsa(TTimestampBehaviour::Answer, std::chrono::milliseconds(300));
  const TSignSettings Settings{TestPki().PfxPath, Tsa.Url(), Description};
  const std::vector<std::uint8_t> Image = BuildPe({TPeKind::Exe32, 1024 * 1024, true});
  QTemporaryDir Folder;
  QDir::setCurrent(QCoreApplication::applicationDirPath());

  for (auto _ : State) {
    const TLoopRun Loop = OsslsigncodeLoop(MakePrograms(Folder.filePath("loop"), Image, Count), Tsa.Url());
    const double LoopSeconds = Loop.Seconds;
    const int LoopFailures = Loop.Failures;

    const TWindowRun One = SignThroughWindow(MakePrograms(Folder.filePath("one"), Image, Count), Settings,
                                             TestPki().PfxPassword, Folder.filePath("config.ini"), 1);
    const TWindowRun Eight = SignThroughWindow(MakePrograms(Folder.filePath("eight"), Image, Count), Settings,
                                               TestPki().PfxPassword, Folder.filePath("config.ini"), 8);
    const TSignSettings TokenSettings{SoftToken().RsaKeyUri, Tsa.Url(), Description};
    const TWindowRun Token = SignThroughWindow(MakePrograms(Folder.filePath("token"), Image, Count), TokenSettings,
                                               SoftToken().Pin, Folder.filePath("config.ini"), 8);
    State.counters["loop_s"] = LoopSeconds;
    State.counters["k1_s"] = One.Seconds;
    State.counters["k8_s"] = Eight.Seconds;
    State.counters["k1_ratio"] = One.Seconds / LoopSeconds;
    State.counters["k8_ratio"] = Eight.Seconds / LoopSeconds;
    State.counters["k8_token_s"] = Token.Seconds;
    State.counters["k8_token_ratio"] = Token.Seconds / LoopSeconds;
    State.counters["k8_p99_lateness_ms"] = Eight.P99LatenessMs;
    std::printf("%d files of 1 MiB, timestamp server 300 ms: osslsigncode loop %.2f s; window k=1 %.2f s (ratio %.3f), "
                "k=8 %.2f s (ratio %.3f), k=8 with the token key %.2f s (ratio %.3f); event loop lateness at k=8 "
                "p99 %.1f ms, max %.1f ms over %zu ticks (k=1: p99 %.1f ms; token k=8: p99 %.1f ms); failures loop %d, "
                "k=1 %d, k=8 %d, token %d; summaries: %s / %s / %s\n",
                Count, LoopSeconds, One.Seconds, One.Seconds / LoopSeconds, Eight.Seconds, Eight.Seconds / LoopSeconds,
                Token.Seconds, Token.Seconds / LoopSeconds, Eight.P99LatenessMs, Eight.MaxLatenessMs, Eight.Ticks,
                One.P99LatenessMs, Token.P99LatenessMs, LoopFailures, One.Failures, Eight.Failures, Token.Failures,
                One.Summary.c_str(), Eight.Summary.c_str(), Token.Summary.c_str());
  }
}
BENCHMARK(ParallelSigning)->Iterations(1)->Unit(benchmark::kSecond);

void ThrottlingServer(benchmark::State& State) {
  constexpr int Parallelism = 8, ServerAtOnce = 4;
  constexpr std::chrono::milliseconds PerRequest(300);
  const int Count = BenchSize("QUILLORY_BENCH_FILES", 40);
  BusyTimestampServer Tsa(ServerAtOnce, PerRequest);
  const TSignSettings Settings{TestPki().PfxPath, Tsa.Url(), Description};
  const std::vector<std::uint8_t> Image = BuildPe({TPeKind::Exe32, 256 * 1024, true});
  QTemporaryDir Folder;
  QDir::setCurrent(QCoreApplication::applicationDirPath());
  const double Bound = Count * std::chrono::duration<double>(PerRequest).count() / ServerAtOnce;

  for (auto _ : State) {
    const auto Run = [&](const QString& Name, const std::string& MoreOptions) {
      Tsa.TakeRefused();
      const TWindowRun Window = SignThroughWindow(MakePrograms(Folder.filePath(Name), Image, Count), Settings,
                                                  TestPki().PfxPassword, Folder.filePath("config.ini"), Parallelism,
                                                  MoreOptions);
      std::printf("%s: %.2f s, %.2f x the bound of %.2f s; %d requests refused, %d files not signed and stamped; "
                  "summary: %s\n",
                  Name.toStdString().c_str(), Window.Seconds, Window.Seconds / Bound, Bound, Tsa.Refused(),
                  Window.Failures, Window.Summary.c_str());
      return std::pair(Window, Tsa.Refused());
    };
    const auto [Learnt, LearntRefused] = Run("learnt", "");
    const auto [Interval, IntervalRefused] = Run("interval", "TimestampInterval=75\n");
    State.counters["bound_s"] = Bound;
    State.counters["learnt_s"] = Learnt.Seconds;
    State.counters["learnt_ratio"] = Learnt.Seconds / Bound;
    State.counters["learnt_refused"] = LearntRefused;
    State.counters["learnt_unstamped"] = Learnt.Failures;
    State.counters["interval_s"] = Interval.Seconds;
    State.counters["interval_ratio"] = Interval.Seconds / Bound;
    State.counters["interval_refused"] = IntervalRefused;
    State.counters["interval_unstamped"] = Interval.Failures;
  }
}
BENCHMARK(ThrottlingServer)->Iterations(1)->Unit(benchmark::kSecond);

void TrustedSigning(benchmark::State& State) {
  const int Count = BenchSize("QUILLORY_BENCH_FILES", 50);
  TrustedSigningService Service(TTrustedSigningBehaviour::Answer, std::chrono::milliseconds(200));
  TimestampServer Tsa;
  const TSignSettings Settings{Service.Address(), Tsa.Url(), Description};
  const std::vector<std::uint8_t> Image = BuildPe({TPeKind::Exe32, 256 * 1024, true});
  QTemporaryDir Folder;
  QDir::setCurrent(QCoreApplication::applicationDirPath());
  // The one-by-one run takes its token from the environment, the window from its password box.
  const TScopedEnvironment AccessToken("AZURE_ACCESS_TOKEN", TrustedSigningService::Token);

  for (auto _ : State) {
    std::vector<std::string> OneByOne{SignTool(), "sign", "/q", "/kc", Service.Address(), "/t", Tsa.Url(), "/d",
                                      Description};
    for (const std::string& File : MakePrograms(Folder.filePath("one by one"), Image, Count)) OneByOne.push_back(File);
    const TTimedRun Single = RunTimed(OneByOne);
    const TWindowRun Eight = SignThroughWindow(MakePrograms(Folder.filePath("eight"), Image, Count), Settings,
                                               TrustedSigningService::Token, Folder.filePath("config.ini"), 8);
    State.counters["one_by_one_s"] = Single.Seconds;
    State.counters["k8_s"] = Eight.Seconds;
    State.counters["k8_ratio"] = Eight.Seconds / Single.Seconds;
    std::printf("%d files, Trusted Signing answering each signature after 200 ms: one signtool.exe run one by one "
                "%.2f s%s; window k=8 %.2f s, ratio %.3f; %d rows not signed; summary: %s; the service gave %d "
                "tokens, %d chains and %d signatures\n",
                Count, Single.Seconds, Single.Succeeded ? "" : " (failed)", Eight.Seconds, Eight.Seconds / Single.Seconds,
                Eight.Failures, Eight.Summary.c_str(), Service.Authentications(), Service.ChainFetches(),
                Service.SignCount());
  }
}
BENCHMARK(TrustedSigning)->Iterations(1)->Unit(benchmark::kSecond);
}  // namespace

int main(int Argc, char** Argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication Application(Argc, Argv);
  benchmark::Initialize(&Argc, Argv);
  TestPki();  // the PKI and the token are made before any timing starts
  SoftToken();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
