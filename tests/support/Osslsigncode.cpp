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
  // osslsigncode refuses to write over an existing file, so sign into a fresh one first.
  const std::string Fresh = Out + ".signing";
  std::remove(Fresh.c_str());
  std::vector<std::string> Args{"sign", "-pkcs12", Pki.PfxPath, "-pass", Pki.PfxPassword,
                                "-in", In, "-out", Fresh};
  Args.insert(Args.end(), Extra.begin(), Extra.end());
  const TProcessResult Result = RunProcess("osslsigncode", Args);
  if (!Result.Started || Result.ExitCode != 0) {
    std::remove(Fresh.c_str());
    return false;
  }
  return std::rename(Fresh.c_str(), Out.c_str()) == 0;
}

TVerifyResult OsslVerify(const std::string& Path) {
  const TTestPki& Pki = TestPki();
  const TProcessResult Result = RunProcess(
      "osslsigncode", {"verify", "-CAfile", Pki.CaCertPath, "-TSA-CAfile", Pki.TsaCaCertPath, "-in", Path});
  TVerifyResult Verify;
  Verify.Output = Result.Out + Result.Err;
  Verify.HasSignature = Result.Out.find("Signature Index: 0") != std::string::npos;
  Verify.SignatureOk = Result.ExitCode == 0 && HasLine(Result.Out, "Signature verification: ok");
  Verify.TimestampOk =
      Verify.SignatureOk && HasLine(Result.Out, "Timestamp Server Signature verification: ok");
  return Verify;
}
