// Azure Trusted Signing, end to end: signtool.exe signs real programs and cabinets through the
// loopback service (a token from client credentials, the chain fetched once, each signature
// submitted and polled), insists on a timestamp, and says each refusal of the service in words
// with the file as it was.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <openssl/evp.h>

#include <array>
#include <thread>

#include "cloud/OpenCloudKey.h"
#include "cloud/TrustedSigningKey.h"
#include "support/BothVerifiers.h"
#include "support/CabFixtures.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/ScopedEnvironment.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"
#include "support/TrustedSigningService.h"

namespace {
std::string SignTool() { return QCoreApplication::applicationDirPath().toStdString() + "/signtool.exe"; }

class TrustedSigningTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& Name) const { return Folder.filePath(QString::fromStdString(Name)).toStdString(); }
  std::string Program(const std::string& Name) const {
    WriteBytes(PathOf(Name), BuildPe({TPeKind::Exe32, 32 * 1024}));
    return PathOf(Name);
  }
  TProcessResult Sign(const TrustedSigningService& Service, const std::vector<std::string>& Files,
                      const std::vector<std::string>& Timestamp) const {
    std::vector<std::string> Arguments{"sign", "/q", "/fd", "sha256", "/kc", Service.Address()};
    Arguments.insert(Arguments.end(), Timestamp.begin(), Timestamp.end());
    Arguments.insert(Arguments.end(), Files.begin(), Files.end());
    return RunProcess(SignTool(), Arguments);
  }

  QTemporaryDir Folder;
  TimestampServer Timestamps;
  const std::vector<std::string> Stamped{"/tr", Timestamps.Url(), "/td", "sha256"};
  TScopedEnvironment NoToken{"AZURE_ACCESS_TOKEN", std::nullopt};
};

TEST_F(TrustedSigningTest, SignsWithClientCredentialsOneTokenAndOneChainPerRun) {
  TrustedSigningService Service(TTrustedSigningBehaviour::Answer, std::chrono::milliseconds(120));
  const TTrustedSigningCredentials Credentials(Service);
  WriteBytes(PathOf("setup.cab"), BuildCab("setup.inf", "[Version]"));
  const std::vector<std::string> Files{Program("one.exe"), PathOf("setup.cab"), Program("three.dll")};

  const TProcessResult Run = Sign(Service, Files, Stamped);
  ASSERT_EQ(Run.ExitCode, 0) << Run.Err;
  EXPECT_EQ(Service.Refusals(), std::vector<std::string>{});
  EXPECT_EQ(Service.Authentications(), 1);
  EXPECT_EQ(Service.ChainFetches(), 1);
  EXPECT_EQ(Service.SignCount(), 3);
  for (const std::string& File : Files) EXPECT_TRUE(SignedAndStampedForBoth(File));
  EXPECT_EQ(Run.Err.find(TrustedSigningService::ClientSecret), std::string::npos);
}

TEST_F(TrustedSigningTest, WithoutATimestampNothingIsSigned) {
  TrustedSigningService Service;
  const TScopedEnvironment Token("AZURE_ACCESS_TOKEN", TrustedSigningService::Token);
  const std::string File = Program("unstamped.exe");
  const std::vector<std::uint8_t> Before = ReadBytes(File);

  const TProcessResult Run = Sign(Service, {File}, {});
  EXPECT_EQ(Run.ExitCode, 1);
  EXPECT_NE(Run.Err.find("Azure Trusted Signing certificates are valid for three days"), std::string::npos) << Run.Err;
  EXPECT_EQ(ReadBytes(File), Before);
  EXPECT_EQ(Service.ChainFetches() + Service.SignCount(), 0);
}

TEST_F(TrustedSigningTest, AThrottlingServiceSlowsTheRunAndSignsEveryFileInTheEnd) {
  TrustedSigningService Service(TTrustedSigningBehaviour::ThrottleFirst);
  const TScopedEnvironment Token("AZURE_ACCESS_TOKEN", TrustedSigningService::Token);
  const std::vector<std::string> Files{Program("a.exe"), Program("b.exe")};

  const TProcessResult Run = Sign(Service, Files, Stamped);
  ASSERT_EQ(Run.ExitCode, 0) << Run.Err;
  EXPECT_EQ(Service.Refusals(), std::vector<std::string>(2, "429 throttled"));
  EXPECT_EQ(Service.SignCount(), 2);
  for (const std::string& File : Files) EXPECT_TRUE(OsslVerify(File).SignatureOk) << File;
}

TEST_F(TrustedSigningTest, RefusalsAreSaidInWordsAndLeaveTheFileAsItWas) {
  const TScopedEnvironment Wait(TrustedSigningWaitVariable, "2");
  struct TCase {
    TTrustedSigningBehaviour Behaviour;
    std::string Expected;
  };
  const std::vector<TCase> Cases{
      {TTrustedSigningBehaviour::Unauthorized, "Azure Trusted Signing did not accept the access token or credentials (401)"},
      {TTrustedSigningBehaviour::Forbidden, "Azure Trusted Signing refused access to the key (403)"},
      {TTrustedSigningBehaviour::NeverFinish, "the signing operation did not finish within 2 s"},
      {TTrustedSigningBehaviour::Malformed, "The answer of Azure Trusted Signing cannot be read"},
  };
  for (const TCase& Case : Cases) {
    TrustedSigningService Service(Case.Behaviour);
    const TScopedEnvironment Token("AZURE_ACCESS_TOKEN", TrustedSigningService::Token);
    const std::string File = Program("refused.exe");
    const std::vector<std::uint8_t> Before = ReadBytes(File);

    const TProcessResult Run = Sign(Service, {File}, Stamped);
    EXPECT_EQ(Run.ExitCode, 1) << Case.Expected;
    EXPECT_NE(Run.Err.find(Case.Expected), std::string::npos) << Run.Err;
    EXPECT_EQ(Run.Err.find(TrustedSigningService::Token), std::string::npos) << Run.Err;
    EXPECT_EQ(ReadBytes(File), Before) << Case.Expected;
  }
  // In the window's language when it runs signtool.exe in Chinese.
  TrustedSigningService Service(TTrustedSigningBehaviour::Forbidden);
  const TScopedEnvironment Token("AZURE_ACCESS_TOKEN", TrustedSigningService::Token);
  const TScopedEnvironment Chinese("QUILLORY_LANGUAGE", "zh_CN");
  const TProcessResult Run = Sign(Service, {Program("chinese.exe")}, Stamped);
  EXPECT_NE(Run.Err.find("Azure Trusted Signing拒绝访问该密钥（403），该账户缺少签名所需的角色：HTTP 403"), std::string::npos)
      << Run.Err;
}

// The window opens a key with a deadline for the opening, then signs with it for as long as the
// batch lasts.
TEST_F(TrustedSigningTest, TheKeySignsAfterTheDeadlineOfItsOpening) {
  TrustedSigningService Service;
  const TScopedEnvironment Token("AZURE_ACCESS_TOKEN", TrustedSigningService::Token);
  const TCloudKeyOpening Opened =
      OpenCloudKey(*ParseCloudKeyAddress(Service.Address()).Address, {}, {}, TSteadyClock::now() + std::chrono::seconds(1), -1);
  ASSERT_TRUE(Opened.Key) << Opened.Message;
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  const std::array<std::uint8_t, 32> Digest{};
  const TKeySignature Signed = Opened.Key->SignDigest(Digest, EVP_sha256());
  EXPECT_FALSE(Signed.Value.empty()) << Signed.Error;
}

TEST_F(TrustedSigningTest, ATokenTheKeyFetchedIsFetchedAgainOnceExpiredAndOneTheUserGaveIsNot) {
  TrustedSigningService Service(TTrustedSigningBehaviour::Answer, std::chrono::milliseconds(50));
  const TTrustedSigningCredentials Credentials(Service);
  const std::array<std::uint8_t, 32> Digest{};
  const auto Open = [&](const std::string& Given) {
    return OpenCloudKey(*ParseCloudKeyAddress(Service.Address()).Address, Given, {}, TSteadyClock::time_point::max(), -1);
  };

  const TCloudKeyOpening Fetched = Open({});
  ASSERT_TRUE(Fetched.Key) << Fetched.Message;
  Service.ExpireTokens();
  // Signatures under way at once all find the token expired; it is fetched again once.
  std::array<TKeySignature, 4> Signed;
  std::vector<std::thread> Signers;
  for (TKeySignature& Each : Signed) Signers.emplace_back([&] { Each = Fetched.Key->SignDigest(Digest, EVP_sha256()); });
  for (std::thread& Signer : Signers) Signer.join();
  for (const TKeySignature& Each : Signed) EXPECT_FALSE(Each.Value.empty()) << Each.Error;
  EXPECT_EQ(Service.Authentications(), 2);

  // A token typed in the password box stays the one the batch was started with.
  const TCloudKeyOpening Given = Open(Service.CurrentToken());
  ASSERT_TRUE(Given.Key) << Given.Message;
  Service.ExpireTokens();
  const TKeySignature Refused = Given.Key->SignDigest(Digest, EVP_sha256());
  EXPECT_TRUE(Refused.Value.empty());
  EXPECT_NE(Refused.Error.find("expired"), std::string::npos) << Refused.Error;
  EXPECT_EQ(Service.Authentications(), 2);
}
}  // namespace
