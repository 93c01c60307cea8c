#include "support/Osslsigncode.h"

#include <cstdio>
#include <sstream>

#include "support/Process.h"
#include "support/TestPki.h"

namespace {
bool HasLine(const std::string& Output, const std::string& Line) {
  std::istringstream Lines(Output);
  std::string Current;
  while (std::getline(Lines, Current))
    if (Current == Line) return true;
  return false;
}
}  // namespace

bool OsslSign(const std::string& In, const std::string& Out, const std::vector<std::string>& Extra) {
  const TTestPki& Pki = TestPki();
  return OsslSignAs(Pki.PfxPath, Pki.PfxPassword, In, Out, Extra);
}

bool OsslSignAs(const std::string& PfxPath, const std::string& Password, const std::string& In,
                const std::string& Out, const std::vector<std::string>& Extra) {
  // osslsigncode refuses to write over an existing file, so sign into a fresh one first.
  const std::string Fresh = Out + ".signing";
  std::remove(Fresh.c_str());
  std::vector<std::string> Args{"sign", "-pkcs12", PfxPath, "-pass", Password,
                                "-in", In, "-out", Fresh};
  Args.insert(Args.end(), Extra.begin(), Extra.end());
  const TProcessResult Result = RunProcess("osslsigncode", Args);
  if (!Result.Started || Result.ExitCode != 0) {
    std::remove(Fresh.c_str());
    return false;
  }
  return std::rename(Fresh.c_str(), Out.c_str()) == 0;
}

namespace {
TOsslVerdict Verify(const std::string& Path, const std::string& CaFile, const std::string& TsaCaFile) {
  const TProcessResult Result =
      RunProcess("osslsigncode", {"verify", "-CAfile", CaFile, "-TSA-CAfile", TsaCaFile, "-in", Path});
  TOsslVerdict Verdict;
  Verdict.Output = Result.Out + Result.Err;
  Verdict.HasSignature = Result.Out.find("Signature Index: 0") != std::string::npos;
  Verdict.SignatureOk = Result.ExitCode == 0 && HasLine(Result.Out, "Signature verification: ok");
  Verdict.TimestampOk =
      Verdict.SignatureOk && HasLine(Result.Out, "Timestamp Server Signature verification: ok");
  return Verdict;
}
}  // namespace

TOsslVerdict OsslVerify(const std::string& Path) {
  const TTestPki& Pki = TestPki();
  return Verify(Path, Pki.CaCertPath, Pki.TsaCaCertPath);
}

TOsslVerdict OsslVerifyTrusting(const std::string& Path, const std::string& TrustFile) {
  return Verify(Path, TrustFile, TrustFile);
}
