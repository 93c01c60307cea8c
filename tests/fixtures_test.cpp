// The shared fixtures: generated programs must be real enough for osslsigncode, and the test PKI
// must be usable as the signing and timestamping tests expect.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <variant>

#include "common/PeHeaders.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/TestPki.h"

namespace {
struct TKindCase {
  TPeKind Kind;
  const char* Name;
  bool Is64;
  bool IsDll;
};

void PrintTo(const TKindCase& Case, std::ostream* Out) { *Out << Case.Name; }

class PeFixtureSigning : public ::testing::TestWithParam<TKindCase> {};

TEST_P(PeFixtureSigning, SignsAndVerifiesWithOsslsigncode) {
  const TKindCase& Case = GetParam();
  QTemporaryDir Folder;
  ASSERT_TRUE(Folder.isValid());
  const std::string Plain = Folder.filePath("plain.bin").toStdString();
  const std::string Signed = Folder.filePath("signed.bin").toStdString();

  const std::vector<std::uint8_t> Image = BuildPe({Case.Kind, 0, true});
  const auto Parsed = ReadPeHeaders(Image);
  ASSERT_TRUE(std::holds_alternative<TPeHeaders>(Parsed));
  EXPECT_EQ(std::get<TPeHeaders>(Parsed).Is64, Case.Is64);
  EXPECT_EQ(std::get<TPeHeaders>(Parsed).IsDll, Case.IsDll);

  WriteBytes(Plain, Image);
  EXPECT_FALSE(OsslVerify(Plain).HasSignature);
  ASSERT_TRUE(OsslSign(Plain, Signed));
  const TOsslVerdict Verify = OsslVerify(Signed);
  EXPECT_TRUE(Verify.HasSignature) << Verify.Output;
  EXPECT_TRUE(Verify.SignatureOk) << Verify.Output;
  EXPECT_FALSE(Verify.TimestampOk) << Verify.Output;
  EXPECT_NE(Verify.Output.find("/CN=" + TestPki().SignerCommonName), std::string::npos);
  EXPECT_EQ(ReadBytes(Plain), Image);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, PeFixtureSigning,
                         ::testing::Values(TKindCase{TPeKind::Exe32, "Exe32", false, false},
                                           TKindCase{TPeKind::Exe64, "Exe64", true, false},
                                           TKindCase{TPeKind::Dll32, "Dll32", false, true},
                                           TKindCase{TPeKind::Dll64, "Dll64", true, true}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(PeFixtures, PadsToTheMinimumSizeInWholeFileAlignmentUnits) {
  for (const bool WithResources : {false, true}) {
    const std::vector<std::uint8_t> Image = BuildPe({TPeKind::Exe64, 1000000, WithResources});
    EXPECT_GE(Image.size(), 1000000u);
    EXPECT_LT(Image.size(), 1000000u + 0x200);
    EXPECT_EQ(Image.size() % 0x200, 0u);
  }
  EXPECT_EQ(BuildPe({TPeKind::Exe32, 0, false}).size(), 0x400u);
}

TEST(PeFixtures, SigningAndVerifyingACopyInPlace) {
  QTemporaryDir Folder;
  const std::string Path = Folder.filePath("same.exe").toStdString();
  WriteBytes(Path, BuildPe({TPeKind::Exe32, 64 * 1024, false}));
  ASSERT_TRUE(OsslSign(Path, Path));
  EXPECT_TRUE(OsslVerify(Path).SignatureOk);
  EXPECT_FALSE(OsslSign(Folder.filePath("missing.exe").toStdString(), Path));
}

bool PfxOpens(const std::string& Pfx, const std::string& Password) {
  return RunProcess("openssl", {"pkcs12", "-in", Pfx, "-passin", "stdin", "-noout"}, Password + "\n")
             .ExitCode == 0;
}

TEST(TestPki, PfxOpensOnlyWithItsPassword) {
  const TTestPki& Pki = TestPki();
  EXPECT_TRUE(PfxOpens(Pki.PfxPath, Pki.PfxPassword));
  EXPECT_FALSE(PfxOpens(Pki.PfxPath, Pki.PfxPassword + "x"));

  const std::string Odd = "a b \"c\" 'd' ;$e";
  const std::string OddPfx = PfxWithPassword(Odd);
  EXPECT_TRUE(PfxOpens(OddPfx, Odd));
  EXPECT_FALSE(PfxOpens(OddPfx, Pki.PfxPassword));

  QTemporaryDir Folder;
  const std::string In = Folder.filePath("in.dll").toStdString();
  const std::string Out = Folder.filePath("out.dll").toStdString();
  WriteBytes(In, BuildPe({TPeKind::Dll32, 0, false}));
  const TProcessResult Signed =
      RunProcess("osslsigncode", {"sign", "-pkcs12", OddPfx, "-pass", Odd, "-in", In, "-out", Out});
  EXPECT_EQ(Signed.ExitCode, 0) << Signed.Err;
  EXPECT_TRUE(OsslVerify(Out).SignatureOk);
}

TEST(TestPki, CertificatesCarryTheirPurposes) {
  const TTestPki& Pki = TestPki();
  const TProcessResult Signer =
      RunProcess("openssl", {"verify", "-CAfile", Pki.CaCertPath, Pki.SignerCertPath});
  EXPECT_EQ(Signer.ExitCode, 0) << Signer.Out << Signer.Err;
  const TProcessResult SignerUsage =
      RunProcess("openssl", {"x509", "-in", Pki.SignerCertPath, "-noout", "-subject", "-ext",
                             "extendedKeyUsage"});
  EXPECT_NE(SignerUsage.Out.find("Code Signing"), std::string::npos) << SignerUsage.Out;
  EXPECT_NE(SignerUsage.Out.find("CN = " + Pki.SignerCommonName), std::string::npos) << SignerUsage.Out;
  const TProcessResult Tsa = RunProcess(
      "openssl", {"verify", "-CAfile", Pki.TsaCaCertPath, "-purpose", "timestampsign", Pki.TsaCertPath});
  EXPECT_EQ(Tsa.ExitCode, 0) << Tsa.Out << Tsa.Err;
  const TProcessResult Usage =
      RunProcess("openssl", {"x509", "-in", Pki.TsaCertPath, "-noout", "-ext", "extendedKeyUsage"});
  EXPECT_NE(Usage.Out.find("critical"), std::string::npos) << Usage.Out;
  EXPECT_NE(Usage.Out.find("Time Stamping"), std::string::npos) << Usage.Out;
  // The signer is not trusted through the TSA's root and the other way round.
  EXPECT_NE(RunProcess("openssl", {"verify", "-CAfile", Pki.TsaCaCertPath, Pki.SignerCertPath}).ExitCode, 0);
}

TEST(Process, ReportsExitCodeOutputAndInput) {
  const TProcessResult Echo = RunProcess("sh", {"-c", "cat; echo err >&2; exit 3"}, "hello");
  EXPECT_TRUE(Echo.Started);
  EXPECT_EQ(Echo.ExitCode, 3);
  EXPECT_EQ(Echo.Out, "hello");
  EXPECT_EQ(Echo.Err, "err\n");
  EXPECT_FALSE(RunProcess("/nonexistent/program", {}).Started);
  EXPECT_EQ(RunProcess("sleep", {"10"}, {}, 200).ExitCode, -1);
}
}  // namespace
