#pragma once
// Program files for the signing benchmarks: copies made on disk before any timing, and a count of
// those the verifier does not find as expected afterwards.
#include <QString>
#include <QTemporaryDir>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "authenticode/VerifySignature.h"
#include "support/TestPki.h"

// Copies of Template named Prefix0.exe, Prefix1.exe... in Folder, on disk before any timing.
inline std::vector<std::string> Copies(const QTemporaryDir& Folder, const std::string& Template, const QString& Prefix,
                                       int Count) {
  std::vector<std::string> Paths;
  for (int I = 0; I < Count; ++I) {
    Paths.push_back(Folder.filePath(Prefix + QString::number(I) + ".exe").toStdString());
    std::filesystem::copy_file(Template, Paths.back(), std::filesystem::copy_options::overwrite_existing);
  }
  ::sync();
  return Paths;
}

// How many of Paths the verifier, trusting the test PKI's roots, does not find in State.
inline int CountNotIn(const std::vector<std::string>& Paths, TVerifyState State) {
  const std::string Roots = TestPki().CaCertPath + ";" + TestPki().TsaCaCertPath;
  int Count = 0;
  for (const std::string& Path : Paths)
    if (VerifySignature(Path, Roots).State != State) ++Count;
  return Count;
}
