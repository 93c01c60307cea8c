// Keys in Google Cloud KMS, end to end: signtool.exe signs real programs and cabinets through the
// loopback service, and each refusal of the service reaches the user in words with the file as it was.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <fstream>

#include "authenticode/VerifySignature.h"
#include "cloud/GoogleKmsKey.h"
#include "support/BothVerifiers.h"
#include "support/CabFixtures.h"
#include "support/GoogleKmsService.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/ScopedEnvironment.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
constexpr const char* Token = "ya29.loopback-token";
constexpr const char* RsaAlgorithm = "RSA_SIGN_PKCS1_2048_SHA256";

std::string SignTool() { return QCoreApplication::applicationDirPath().toStdString() + "/signtool.exe"; }

class GoogleKmsTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const { return Folder.filePath(QString::fromStdString(Name)).toStdString(); }
  std::string Program(const std::string& Name) const {
    WriteBytes(PathOf(Name), BuildPe({TPeKind::Exe32, 32 * 1024}));
    return PathOf(Name);
  }
  std::string Cabinet(const std::string& Name) const {
    WriteBytes(PathOf(Name), BuildCab("readme.txt", "signed through a key service"));
    return PathOf(Name);
  }
  // signtool.exe sign with the token in a variable, as a build machine passes it.
  TProcessResult Sign(const std::vector<std::string>& Options, const std::vector<std::string>& Files) const {
    std::vector<std::string> Arguments{"sign", "/q", "/penv", "GCP_TEST_TOKEN"};
    Arguments.insert(Arguments.end(), Options.begin(), Options.end());
    Arguments.insert(Arguments.end(), Files.begin(), Files.end());
    return RunProcess(SignTool(), Arguments);
  }

  QTemporaryDir Folder;
  TScopedEnvironment TokenVariable{"GCP_TEST_TOKEN", Token};
};

TEST_F(GoogleKmsTest, SignsProgramsAndCabinetsReadingTheKeyOncePerRun) {
  GoogleKmsService Service(TestPki().SignerKeyPath, RsaAlgorithm, Token);
  const TScopedEnvironment Endpoint(GoogleKmsEndpointVariable, Service.Endpoint());
  const std::vector<std::string> Files{Program("one.exe"), Cabinet("two.cab"), Program("three.dll")};

  const TProcessResult Run = Sign({"/kc", Service.Address(), "/f", TestPki().SignerCertPath}, Files);
  ASSERT_EQ(Run.ExitCode, 0) << Run.Err;
  EXPECT_EQ(Service.PublicKeyReads(), 1);
  EXPECT_EQ(Service.Signatures(), 3);
  EXPECT_EQ(Service.Refusals(), 0) << Service.LastRefusal();
  for (const std::string& File : Files) {
    EXPECT_EQ(VerifySignature(File, TestPki().CaCertPath).State, vsValidNoTimestamp) << File;
    EXPECT_TRUE(OsslVerify(File).SignatureOk) << File;
  }
}

// /csp names the service and /kc carries the rest, here with the certificate in the address; an EC
// key, timestamped.
TEST_F(GoogleKmsTest, ServiceNamedByCspWithAnEcKeyAndATimestamp) {
  GoogleKmsService Service(TestPki().EcSignerKeyPath, "EC_SIGN_P256_SHA256", Token);
  TimestampServer Timestamps;
  const TScopedEnvironment Endpoint(GoogleKmsEndpointVariable, Service.Endpoint());
  const std::string Address = Service.Address(TestPki().EcSignerCertPath).substr(std::string("gcpkms://").size());
  const std::string File = Cabinet("stamped.cab");

  const TProcessResult Run = Sign({"/csp", "google cloud kms", "/kc", Address, "/tr", Timestamps.Url()}, {File});
  ASSERT_EQ(Run.ExitCode, 0) << Run.Err;
  EXPECT_TRUE(SignedAndStampedForBoth(File));

  // A key version whose certificate is another key's is refused before any file is touched.
  const std::string Other = Program("other.exe");
  const std::vector<std::uint8_t> Before = ReadBytes(Other);
  const TProcessResult Mismatch = Sign({"/kc", Service.Address(), "/f", TestPki().SignerCertPath}, {Other});
  EXPECT_EQ(Mismatch.ExitCode, 1);
  EXPECT_NE(Mismatch.Err.find("has the key version's public key"), std::string::npos) << Mismatch.Err;
  EXPECT_EQ(ReadBytes(Other), Before);
}

TEST_F(GoogleKmsTest, RefusalsAreSaidInWordsAndLeaveTheFileAsItWas) {
  struct TCase {
    const char* Name;
    std::optional<THttpResponse> Answer;  // to every signature
    std::string Token;
    std::string Expected;
  };
  const THttpResponse Denied =
      GoogleError(403, "PERMISSION_DENIED", "Permission 'cloudkms.cryptoKeyVersions.useToSign' denied on resource");
  const THttpResponse Quota = GoogleError(429, "RESOURCE_EXHAUSTED", "Quota exceeded for quota metric 'Asymmetric sign requests'");
  const std::vector<TCase> Cases{
      {"wrong token", std::nullopt, "ya29.expired", "Google Cloud KMS did not accept the access token or credentials (401)"},
      {"no role", Denied, Token, "refused access to the key (403); the account lacks the role that allows signing: HTTP 403: Permission"},
      {"quota", Quota, Token, "The quota of Google Cloud KMS is used up (429)"},
      {"not JSON", THttpResponse{200, "application/json", "{\"signature\": "}, Token, "The answer of Google Cloud KMS cannot be read"},
      {"no signature", THttpResponse{200, "application/json", "{\"signature\": \"AAAA\"}"}, Token,
       "does not verify with the certificate"},
  };
  for (const TCase& Case : Cases) {
    GoogleKmsService Service(TestPki().SignerKeyPath, RsaAlgorithm, Token, [&Case](const THttpRequest& Request) {
      return Request.Method == "POST" ? Case.Answer : std::nullopt;
    });
    const TScopedEnvironment Endpoint(GoogleKmsEndpointVariable, Service.Endpoint());
    const TScopedEnvironment Given("GCP_TEST_TOKEN", Case.Token);
    const std::string File = Program(std::string(Case.Name) + ".exe");
    const std::vector<std::uint8_t> Before = ReadBytes(File);
    const TProcessResult Run = Sign({"/kc", Service.Address(TestPki().SignerCertPath)}, {File});
    EXPECT_EQ(Run.ExitCode, 1) << Case.Name;
    EXPECT_NE(Run.Err.find(Case.Expected), std::string::npos) << Case.Name << ": " << Run.Err;
    EXPECT_EQ(Run.Err.find(Token), std::string::npos) << Case.Name;
    EXPECT_EQ(ReadBytes(File), Before) << Case.Name;
  }
}

TEST_F(GoogleKmsTest, ThrottledSignatureWaitsAsAskedAndSucceeds) {
  std::atomic<int> Throttled = 0;
  GoogleKmsService Service(TestPki().SignerKeyPath, RsaAlgorithm, Token, [&Throttled](const THttpRequest& Request) {
    if (Request.Method != "POST" || Throttled++ > 0) return std::optional<THttpResponse>();
    THttpResponse Busy = GoogleError(429, "RESOURCE_EXHAUSTED", "Too many requests");
    Busy.Headers["Retry-After"] = "1";
    return std::optional<THttpResponse>(Busy);
  });
  const TScopedEnvironment Endpoint(GoogleKmsEndpointVariable, Service.Endpoint());
  const std::string File = Program("throttled.exe");
  const TProcessResult Run = Sign({"/kc", Service.Address(), "/f", TestPki().SignerCertPath}, {File});
  ASSERT_EQ(Run.ExitCode, 0) << Run.Err;
  EXPECT_EQ(Throttled, 2);
  EXPECT_EQ(Service.Signatures(), 1);
  EXPECT_TRUE(OsslVerify(File).SignatureOk);
}

// Without a token given, the environment's and then gcloud's are taken; without either, the run
// says where it looked.
TEST_F(GoogleKmsTest, TokenFromTheEnvironmentOrGcloud) {
  GoogleKmsService Service(TestPki().SignerKeyPath, RsaAlgorithm, Token);
  const TScopedEnvironment Endpoint(GoogleKmsEndpointVariable, Service.Endpoint());
  const std::vector<std::string> Options{"sign", "/q", "/kc", Service.Address(), "/f", TestPki().SignerCertPath};
  const auto Run = [&](const std::string& File) {
    std::vector<std::string> Arguments = Options;
    Arguments.push_back(File);
    return RunProcess(SignTool(), Arguments);
  };
  {
    const TScopedEnvironment Variable("GOOGLE_OAUTH_ACCESS_TOKEN", Token);
    const TProcessResult FromVariable = Run(Program("variable.exe"));
    EXPECT_EQ(FromVariable.ExitCode, 0) << FromVariable.Err;
  }
  const std::string Tools = PathOf("bin");
  std::filesystem::create_directory(Tools);
  const TScopedEnvironment Path("PATH", Tools + ":/usr/bin:/bin");
  const TProcessResult Nowhere = Run(Program("nowhere.exe"));
  EXPECT_EQ(Nowhere.ExitCode, 1);
  EXPECT_NE(Nowhere.Err.find("No credentials for Google Cloud KMS were found"), std::string::npos) << Nowhere.Err;

  // A signed-in gcloud prints the token on its own line.
  const std::string Gcloud = Tools + "/gcloud";
  std::ofstream(Gcloud) << "#!/bin/sh\n[ \"$1 $2\" = \"auth print-access-token\" ] && echo " << Token << "\n";
  std::filesystem::permissions(Gcloud, std::filesystem::perms::owner_all);
  const TProcessResult FromGcloud = Run(Program("gcloud.exe"));
  EXPECT_EQ(FromGcloud.ExitCode, 0) << FromGcloud.Err;
  EXPECT_EQ(Service.Signatures(), 2);
}
}  // namespace
