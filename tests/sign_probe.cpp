// Signs one file in a process of its own and prints the process's peak resident memory in KiB,
// for the test that signing memory does not grow with the file. Arguments: file, PFX, password.
#include <cstdio>
#include <fstream>
#include <string>

#include "authenticode/FileSigning.h"
#include "keys/PfxKey.h"

int main(int Argc, char** Argv) {
  if (Argc != 4) return 2;
  const TPfxOpenResult Opened = OpenPfx(Argv[2], std::string(Argv[3]));
  if (!Opened.Key) return 3;
  TSignatureSettings Settings;
  Settings.Md = EVP_sha256();
  Settings.SigningTime = 1700000000;
  const TSignFileResult Result = SignFile(Argv[1], Settings, *Opened.Key);
  if (Result.Failure != TSignFailure::None) {
    std::fprintf(stderr, "%s\n", Result.Message.c_str());
    return 1;
  }
  // The peak of this program's own memory (getrusage's would include the parent's from before
  // this program was started in its place).
  std::ifstream Status("/proc/self/status");
  for (std::string Line; std::getline(Status, Line);)
    if (Line.rfind("VmHWM:", 0) == 0) std::printf("%ld\n", std::stol(Line.substr(6)));
  return 0;
}
