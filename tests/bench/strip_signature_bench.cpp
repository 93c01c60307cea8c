// Stripping 500 signed 1 MiB programs: our stripper against osslsigncode remove-signature on the
// same files. Prints the ratio of the two wall times at the end.
#include <benchmark/benchmark.h>

#include "OwnAgainstOsslsigncode.h"

#include <QTemporaryDir>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/uPubFunc.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"

namespace {
constexpr int FileCount = 500;

class TSignedFiles {
 public:
  TSignedFiles() {
    const std::string Plain = Folder.filePath("plain.exe").toStdString();
    Template = Folder.filePath("signed.exe").toStdString();
    WriteBytes(Plain, BuildPe({TPeKind::Exe32, 1 << 20, false}));
    if (!OsslSign(Plain, Template)) throw std::runtime_error("osslsigncode could not sign the template");
  }

  // FileCount fresh copies of the signed template, already on disk so that writing them back
  // does not weigh on the timed part.
  std::vector<std::string> FreshCopies() {
    std::vector<std::string> Paths;
    for (int I = 0; I < FileCount; ++I) {
      const std::string Path = Folder.filePath(QString("copy-%1.exe").arg(I)).toStdString();
      std::filesystem::copy_file(Template, Path, std::filesystem::copy_options::overwrite_existing);
      std::remove((Path + ".out").c_str());
      Paths.push_back(Path);
    }
    ::sync();
    return Paths;
  }

 private:
  QTemporaryDir Folder;
  std::string Template;
};

TSignedFiles& Files() {
  static TSignedFiles Instance;
  return Instance;
}

void StripSignatureOwn(benchmark::State& State) {
  for (auto _ : State) {
    State.PauseTiming();
    const std::vector<std::string> Paths = Files().FreshCopies();
    State.ResumeTiming();
    for (const std::string& Path : Paths) {
      std::string ErrorText;
      if (!StripSignature(Path, ErrorText)) State.SkipWithError(ErrorText.c_str());
    }
  }
}

void StripSignatureOsslsigncode(benchmark::State& State) {
  for (auto _ : State) {
    State.PauseTiming();
    const std::vector<std::string> Paths = Files().FreshCopies();
    State.ResumeTiming();
    for (const std::string& Path : Paths) {
      const TProcessResult Result =
          RunProcess("osslsigncode", {"remove-signature", "-in", Path, "-out", Path + ".out"});
      if (Result.ExitCode != 0) State.SkipWithError("osslsigncode remove-signature failed");
    }
  }
}

BENCHMARK(StripSignatureOwn)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(StripSignatureOsslsigncode)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

int main(int Argc, char** Argv) {
  return RunOwnAgainstOsslsigncode(Argc, Argv, "StripSignatureOwn", "StripSignatureOsslsigncode", FileCount);
}
