// Verifying signed 1 MiB programs (timestamped, trusted through an extra PEM file): the in-process
// check against osslsigncode verify on the same files with the same trust. Prints the ratio of
// the two wall times at the end. QUILLORY_BENCH_FILES sets the number of files (default 500).
#include <benchmark/benchmark.h>

#include "OwnAgainstOsslsigncode.h"

#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "authenticode/VerifySignature.h"
#include "common/uPubFunc.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
int FileCount() {
  const char* Count = std::getenv("QUILLORY_BENCH_FILES");
  return Count != nullptr && std::atoi(Count) > 0 ? std::atoi(Count) : 500;
}

class TSignedFiles {
 public:
  TSignedFiles() {
    const TTestPki& Pki = TestPki();
    Trust = Folder.filePath("trust.pem").toStdString();
    std::ofstream TrustFile(Trust);
    for (const std::string& Root : {Pki.CaCertPath, Pki.TsaCaCertPath}) TrustFile << std::ifstream(Root).rdbuf();
    TrustFile.close();

    const std::string Plain = Folder.filePath("plain.exe").toStdString();
    const std::string Template = Folder.filePath("signed.exe").toStdString();
    WriteBytes(Plain, BuildPe({TPeKind::Exe32, 1 << 20, false}));
    TimestampServer Server;
    if (!OsslSign(Plain, Template, {"-ts", Server.Url()}))
      throw std::runtime_error("osslsigncode could not sign the template");
    if (VerifySignature(Template, Trust).State != vsValid) throw std::runtime_error("the template does not verify");
    for (int I = 0; I < FileCount(); ++I) {
      Paths.push_back(Folder.filePath(QString("copy-%1.exe").arg(I)).toStdString());
      std::filesystem::copy_file(Template, Paths.back());
    }
  }

  QTemporaryDir Folder;
  std::string Trust;
  std::vector<std::string> Paths;
};

TSignedFiles& Files() {
  static TSignedFiles Instance;
  return Instance;
}

void VerifyOwn(benchmark::State& State) {
  for (auto _ : State)
    for (const std::string& Path : Files().Paths)
      if (VerifySignature(Path, Files().Trust).State != vsValid) State.SkipWithError("a copy did not verify");
}

void VerifyOsslsigncode(benchmark::State& State) {
  for (auto _ : State)
    for (const std::string& Path : Files().Paths)
      if (!OsslVerifyTrusting(Path, Files().Trust).SignatureOk) State.SkipWithError("osslsigncode verify failed");
}

BENCHMARK(VerifyOwn)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(VerifyOsslsigncode)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
}  // namespace

int main(int Argc, char** Argv) {
  return RunOwnAgainstOsslsigncode(Argc, Argv, "VerifyOwn", "VerifyOsslsigncode", FileCount());
}
