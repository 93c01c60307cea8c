#include "support/BothVerifiers.h"

#include "authenticode/VerifySignature.h"
#include "support/Osslsigncode.h"
#include "support/TestPki.h"

::testing::AssertionResult SignedAndStampedForBoth(const std::string& File) {
  const TVerifyResult Verified = VerifySignature(File, TestPki().CaCertPath + ";" + TestPki().TsaCaCertPath);
  if (Verified.State != vsValid) return ::testing::AssertionFailure() << File << ": " << Verified.Message;
  const TOsslVerdict Verdict = OsslVerify(File);
  if (!Verdict.SignatureOk || !Verdict.TimestampOk) return ::testing::AssertionFailure() << File << ":\n" << Verdict.Output;
  return ::testing::AssertionSuccess();
}
