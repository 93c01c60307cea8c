// Keys in AWS KMS, end to end: signtool.exe signs real programs and cabinets through the loopback
// service with SigV4-signed requests, the credentials found as AWS's tools find them, and each
// refusal of the service reaches the user in words with the file as it was.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <fstream>

#include "support/AwsKmsService.h"
#include "support/BothVerifiers.h"
#include "support/CabFixtures.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/ScopedEnvironment.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
std::string SignTool() { return QCoreApplication::applicationDirPath().toStdString() + "/signtool.exe"; }

class AwsKmsTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const { return Folder.filePath(QString::fromStdString(Name)).toStdString(); }
  std::string Program(const std::string& Name, std::size_t Size = 32 * 1024) const {
    WriteBytes(PathOf(Name), BuildPe({TPeKind::Exe32, Size}));
    return PathOf(Name);
  }
  TProcessResult Sign(const std::string& Key, const std::vector<std::string>& Files, const std::vector<std::string>& More = {}) const {
    std::vector<std::string> Arguments{"sign", "/q", "/fd", "sha256", "/kc", std::string("awskms://") + AwsKmsService::Region + "/" + Key,
                                       "/f", TestPki().SignerCertPath};
    Arguments.insert(Arguments.end(), More.begin(), More.end());
    Arguments.insert(Arguments.end(), Files.begin(), Files.end());
    return RunProcess(SignTool(), Arguments);
  }
  // The service's credentials in the environment, as a build machine has them.
  void UseEnvironmentCredentials(const AwsKmsService& Service) {
    const TAwsCredentials Credentials = Service.Credentials();
    Environment.emplace_back(std::make_unique<TScopedEnvironment>("AWS_ACCESS_KEY_ID", Credentials.AccessKeyId));
    Environment.emplace_back(std::make_unique<TScopedEnvironment>("AWS_SECRET_ACCESS_KEY", Credentials.SecretAccessKey));
    Environment.emplace_back(std::make_unique<TScopedEnvironment>("AWS_SESSION_TOKEN", Credentials.SessionToken));
  }

  QTemporaryDir Folder;
  std::vector<std::unique_ptr<TScopedEnvironment>> Environment;
  TScopedEnvironment NoProfile{"AWS_PROFILE", std::nullopt};
  TScopedEnvironment OwnCredentialsFile{"AWS_SHARED_CREDENTIALS_FILE", PathOf("credentials")};
};

TEST_F(AwsKmsTest, SignsWithTemporaryCredentialsFromAProfileReadingTheKeyOncePerRun) {
  AwsKmsService Service(TAwsKmsBehaviour::Answer, "FwoGZXIvYXdzEXAMPLEsession+token/==");
  TimestampServer Timestamps;
  const TScopedEnvironment Endpoint("AWS_ENDPOINT_URL_KMS", Service.Endpoint());
  const TScopedEnvironment Profile("AWS_PROFILE", "release");
  std::ofstream(PathOf("credentials")) << "[release]\naws_access_key_id = " << AwsKmsService::AccessKeyId
                                       << "\naws_secret_access_key = " << AwsKmsService::SecretAccessKey
                                       << "\naws_session_token = " << Service.Credentials().SessionToken << "\n";
  WriteBytes(PathOf("setup.cab"), BuildCab("setup.inf", "[Version]"));
  const std::vector<std::string> Files{Program("one.exe"), PathOf("setup.cab"), Program("three.dll")};

  const TProcessResult Run = Sign(AwsKmsService::Alias, Files, {"/tr", Timestamps.Url(), "/td", "sha256"});
  ASSERT_EQ(Run.ExitCode, 0) << Run.Err;
  EXPECT_EQ(Service.Refusals(), std::vector<std::string>{});
  EXPECT_EQ(Service.PublicKeyCount(), 1);
  EXPECT_EQ(Service.SignCount(), 3);
  for (const std::string& File : Files) EXPECT_TRUE(SignedAndStampedForBoth(File));
  EXPECT_EQ(Run.Out.find(AwsKmsService::SecretAccessKey) + Run.Err.find(AwsKmsService::SecretAccessKey),
            2 * std::string::npos);
}

TEST_F(AwsKmsTest, ThrottlingSlowsTheRunDownAndEveryFileIsSignedInTheEnd) {
  AwsKmsService Service(TAwsKmsBehaviour::ThrottleFirst);
  const TScopedEnvironment Endpoint("AWS_ENDPOINT_URL", Service.Endpoint());
  UseEnvironmentCredentials(Service);
  // Files that differ, so that their digests do.
  const std::vector<std::string> Files{Program("a.exe"), Program("b.exe", 48 * 1024)};

  const TProcessResult Run = Sign(AwsKmsService::KeyArn(), Files);
  ASSERT_EQ(Run.ExitCode, 0) << Run.Err;
  EXPECT_EQ(Service.SignCount(), 2);
  EXPECT_EQ(Service.Refusals(), std::vector<std::string>(2, "ThrottlingException"));
  for (const std::string& File : Files) EXPECT_TRUE(OsslVerify(File).SignatureOk) << File;
}

TEST_F(AwsKmsTest, RefusalsAreSaidInWordsAndLeaveTheFileAsItWas) {
  struct TCase {
    TAwsKmsBehaviour Behaviour;
    std::string Key, Secret, Expected;
  };
  const std::vector<TCase> Cases{
      {TAwsKmsBehaviour::Answer, AwsKmsService::KeyId, "a-wrong-secret", "AWS KMS did not accept the access token or credentials (401)"},
      {TAwsKmsBehaviour::Answer, "alias/missing", AwsKmsService::SecretAccessKey, "(404)"},
      {TAwsKmsBehaviour::Deny, AwsKmsService::KeyId, AwsKmsService::SecretAccessKey, "AWS KMS refused access to the key (403)"},
      {TAwsKmsBehaviour::Garble, AwsKmsService::KeyId, AwsKmsService::SecretAccessKey, "The answer of AWS KMS cannot be read"},
  };
  for (const TCase& Case : Cases) {
    AwsKmsService Service(Case.Behaviour);
    const TScopedEnvironment Endpoint("AWS_ENDPOINT_URL_KMS", Service.Endpoint());
    const TScopedEnvironment KeyId("AWS_ACCESS_KEY_ID", AwsKmsService::AccessKeyId);
    const TScopedEnvironment Secret("AWS_SECRET_ACCESS_KEY", Case.Secret);
    const std::string File = Program("refused.exe");
    const std::vector<std::uint8_t> Before = ReadBytes(File);

    const TProcessResult Run = Sign(Case.Key, {File});
    EXPECT_EQ(Run.ExitCode, 1) << Case.Expected;
    EXPECT_NE(Run.Err.find(Case.Expected), std::string::npos) << Run.Err;
    EXPECT_EQ(Run.Err.find(Case.Secret), std::string::npos) << Run.Err;
    EXPECT_EQ(ReadBytes(File), Before) << Case.Expected;
  }
  // Without any credentials nothing is asked.
  AwsKmsService Service;
  const TScopedEnvironment Endpoint("AWS_ENDPOINT_URL_KMS", Service.Endpoint());
  const TProcessResult Run = Sign(AwsKmsService::KeyId, {Program("unsigned.exe")});
  EXPECT_NE(Run.Err.find("AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY are not set and " + PathOf("credentials") + " does not exist"),
            std::string::npos)
      << Run.Err;
  EXPECT_EQ(Service.PublicKeyCount() + Service.SignCount(), 0);
}
}  // namespace
