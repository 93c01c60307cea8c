// Per-file signing time through signtool.exe with the key on a SoftHSM2 token against the same
// signer's PFX: 20 programs of 1 MiB each way, each with a time-stamp from one loopback server,
// the ways taking turns file by file. The token is reached through p11-kit's proxy (every module
// the system registers) and through its own module (/csp). Prints the per-file times and ratios.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/WindowsCommandLine.h"
#include "common/uPubFunc.h"
#include "support/PeFixtures.h"
#include "support/SoftToken.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
constexpr int FileCount = 20;

struct TSetup {
  QTemporaryDir Folder;
  TimestampServer Server;
  std::string Template;

  TSetup() {
    Template = Folder.filePath("template.exe").toStdString();
    WriteBytes(Template, BuildPe({TPeKind::Exe32, 1 << 20, false}));
  }

  std::string FreshCopy(const std::string& Name) {
    const std::string Path = Folder.filePath(QString::fromStdString(Name)).toStdString();
    std::filesystem::copy_file(Template, Path, std::filesystem::copy_options::overwrite_existing);
    return Path;
  }
};

TSetup& Setup() {
  static TSetup Instance;
  return Instance;
}

std::string Command(const std::string& KeyOptions, const std::string& Path) {
  return "signtool.exe sign /q " + KeyOptions + " /t " + QuoteArgument(Setup().Server.Url()) + " /d \"Bench\" " +
         QuoteArgument(Path);
}

double SecondsFor(const std::string& CommandLine, bool& Failed) {
  std::string ErrorText;
  const auto Start = std::chrono::steady_clock::now();
  Failed = !RunAndCapture(CommandLine, ErrorText) || Failed;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

double TotalToken = 0;
double TotalModule = 0;
double TotalPfx = 0;
int Files = 0;

void SignWithTokenAndPfx(benchmark::State& State) {
  const TSoftToken& Token = SoftToken();
  const TTestPki& Pki = TestPki();
  const std::string TokenKey = "/kc " + QuoteArgument(Token.RsaKeyUri) + " /p " + QuoteArgument(Token.Pin);
  const std::string ModuleKey = TokenKey + " /csp " + QuoteArgument(Token.Module);
  const std::string PfxKey = "/f " + QuoteArgument(Pki.PfxPath) + " /p " + QuoteArgument(Pki.PfxPassword);
  for (auto _ : State) {
    double OnToken = 0;
    bool Failed = false;
    for (int I = 0; I < FileCount; ++I) {
      TotalPfx += SecondsFor(Command(PfxKey, Setup().FreshCopy("pfx.exe")), Failed);
      OnToken += SecondsFor(Command(TokenKey, Setup().FreshCopy("token.exe")), Failed);
      TotalModule += SecondsFor(Command(ModuleKey, Setup().FreshCopy("module.exe")), Failed);
    }
    if (Failed) State.SkipWithError("a file could not be signed");
    TotalToken += OnToken;
    Files += FileCount;
    State.SetIterationTime(OnToken);
  }
}

BENCHMARK(SignWithTokenAndPfx)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
}  // namespace

int main(int Argc, char** Argv) {
  QCoreApplication Application(Argc, Argv);
  benchmark::Initialize(&Argc, Argv);
  Setup();  // the PKI, the token and the server are made before any timing starts
  SoftToken();
  benchmark::RunSpecifiedBenchmarks();
  if (Files > 0)
    std::printf("per file of 1 MiB: PFX %.1f ms; SoftHSM2 token through p11-kit %.1f ms (ratio %.3f), "
                "through its own module %.1f ms (ratio %.3f)\n",
                TotalPfx * 1000 / Files, TotalToken * 1000 / Files, TotalToken / TotalPfx,
                TotalModule * 1000 / Files, TotalModule / TotalPfx);
  benchmark::Shutdown();
  return 0;
}
