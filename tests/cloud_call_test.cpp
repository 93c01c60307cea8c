// The key services' common ground: their addresses, and one polite call against a loopback server
// that throttles, fails and refuses.
#include <gtest/gtest.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>

#include "cloud/CloudCall.h"
#include "cloud/CloudKeyAddress.h"
#include "support/LoopbackHttpServer.h"

namespace {
using TKind = TCloudFailure::TKind;

TEST(CloudKeyAddress, GoogleKeyVersionWithItsCertificateFile) {
  const std::string Name = "projects/p-1/locations/global/keyRings/ring/cryptoKeys/key/cryptoKeyVersions/3";
  const TCloudKeyAddressParse Plain = ParseCloudKeyAddress("  GcpKms://" + Name + " ");
  ASSERT_TRUE(Plain.Address) << Plain.Problem;
  EXPECT_EQ(Plain.Address->Service, TCloudService::GoogleKms);
  EXPECT_EQ(Plain.Address->Path, Name);
  EXPECT_EQ(Plain.Address->CertificateFile, "");

  const TCloudKeyAddressParse WithFile = ParseCloudKeyAddress("gcpkms://" + Name + "?certificate=%2Ftmp%2Fmy%20certs%2Fa%3Fb.pem");
  ASSERT_TRUE(WithFile.Address) << WithFile.Problem;
  EXPECT_EQ(WithFile.Address->Path, Name);
  EXPECT_EQ(WithFile.Address->CertificateFile, "/tmp/my certs/a?b.pem");

  for (const std::string& Wrong : std::vector<std::string>{
           "gcpkms://projects/p/locations/global/keyRings/ring/cryptoKeys/key",
        "gcpkms://projects/p/locations/global/keyRings/ring/cryptoKeys/key/cryptoKeyVersions/",
        "gcpkms://projects/p/regions/global/keyRings/ring/cryptoKeys/key/cryptoKeyVersions/1",
        "gcpkms://" + Name + "/extra/1", "gcpkms://" + Name + "?certificate=", "gcpkms://" + Name + "?cert=a.pem",
        "gcpkms://" + Name + "?certificate=%2", "gcpkms://" + Name + "?certificate=a%00b"}) {
    const TCloudKeyAddressParse Parsed = ParseCloudKeyAddress(Wrong);
    EXPECT_FALSE(Parsed.Address) << Wrong;
    EXPECT_NE(Parsed.Problem.find("has the form gcpkms://projects/<project>/"), std::string::npos) << Parsed.Problem;
  }
  EXPECT_TRUE(IsCloudKeyAddress("gcpkms://anything"));
  EXPECT_FALSE(IsCloudKeyAddress("pkcs11:token=x"));
  EXPECT_FALSE(IsCloudKeyAddress("/home/gcpkms://x.pfx"));
  EXPECT_EQ(CloudServiceNamed(" google cloud KMS "), TCloudService::GoogleKms);
  EXPECT_FALSE(CloudServiceNamed("/usr/lib/softhsm/libsofthsm2.so"));
}

TEST(CloudKeyAddress, KeyVaultCertificateAndEveryAddressReadBackAsWritten) {
  const TCloudKeyAddressParse Vault = ParseCloudKeyAddress("keyvault://Contoso.Vault.Azure.NET/release/0a1b");
  ASSERT_TRUE(Vault.Address) << Vault.Problem;
  EXPECT_EQ(Vault.Address->Service, TCloudService::KeyVault);
  EXPECT_EQ(Vault.Address->Host, "contoso.vault.azure.net");
  EXPECT_EQ(Vault.Address->Path, "release/0a1b");
  for (const char* Wrong : {"keyvault://contoso.vault.azure.net", "keyvault://contoso.vault.azure.net/", "keyvault:///release",
                            "keyvault://contoso.vault.azure.net/a/b/c", "keyvault://contoso.vault.azure.net/a//b"})
    EXPECT_FALSE(ParseCloudKeyAddress(Wrong).Address) << Wrong;

  const TCloudKeyAddressParse Arn =
      ParseCloudKeyAddress("awskms://eu-central-1/arn:aws:kms:eu-central-1:111122223333:key/0b2c4e6a-1d3f");
  ASSERT_TRUE(Arn.Address) << Arn.Problem;
  EXPECT_EQ(Arn.Address->Host, "eu-central-1");
  EXPECT_EQ(Arn.Address->Path, "arn:aws:kms:eu-central-1:111122223333:key/0b2c4e6a-1d3f");
  const TCloudKeyAddressParse Profile = ParseCloudKeyAddress("trustedsigning://eus.codesigning.azure.net/contoso/release");
  ASSERT_TRUE(Profile.Address) << Profile.Problem;
  EXPECT_TRUE(CloudServiceNeedsTimestamp(Profile.Address->Service));
  EXPECT_FALSE(CloudServiceNeedsTimestamp(Arn.Address->Service));
  for (const char* Wrong : {"awskms://eu-central-1", "awskms://eu-central-1/", "awskms:///alias/release",
                            "awskms://EU_Central/alias/release", "trustedsigning://eus.codesigning.azure.net/contoso",
                            "trustedsigning://eus.codesigning.azure.net/contoso/release/more",
                            "trustedsigning://eus.codesigning.azure.net/con toso/release"})
    EXPECT_FALSE(ParseCloudKeyAddress(Wrong).Address) << Wrong;

  for (const std::string& Written :
       {std::string("keyvault://127.0.0.1:8443/release"), std::string("trustedsigning://127.0.0.1:8443/contoso/release"),
        std::string("awskms://us-east-2/alias/release?certificate=%2Fhome%2Fme%2Frelease.pem"),
        std::string("gcpkms://projects/p/locations/l/keyRings/r/cryptoKeys/k/cryptoKeyVersions/1?certificate=%2Fa%20b%3F%25%2Fc.pem")}) {
    const TCloudKeyAddressParse Parsed = ParseCloudKeyAddress(Written);
    ASSERT_TRUE(Parsed.Address) << Parsed.Problem;
    EXPECT_EQ(FormatCloudKeyAddress(*Parsed.Address), Written);
  }
  EXPECT_EQ(ServiceUrl("127.0.0.1:8443"), "http://127.0.0.1:8443");
  EXPECT_EQ(ServiceUrl("contoso.vault.azure.net"), "https://contoso.vault.azure.net");
}

class CloudCallTest : public ::testing::Test {
 protected:
  TCloudAnswer Call(const std::string& Url) {
    TCloudLink Link{&Pace, {}, {}, Interruption, TSteadyClock::now() + std::chrono::seconds(60)};
    Link.Limits.RetryWait = std::chrono::milliseconds(10);
    Link.Limits.CallBudget = std::chrono::seconds(20);
    return CallCloud({"GET", Url, {"Authorization: Bearer t"}, {}, {}}, Link);
  }

  TPaceFile PaceFile;
  THostPace Pace{PaceFile};
  int Interruption = -1;
};

TEST_F(CloudCallTest, ThrottlingAndPassingFailuresAreWaitedOut) {
  std::atomic<int> Asked = 0;
  LoopbackHttpServer Server([&Asked](const THttpRequest&) -> std::optional<THttpResponse> {
    switch (Asked++) {
      case 0: return THttpResponse{503, "text/plain", "busy", {{"Retry-After", "1"}}};
      case 1: return THttpResponse{500, "application/json", "{}"};
      case 2: return THttpResponse{429, "application/json", R"({"error": {"message": "slow down"}})"};
      default: return THttpResponse{200, "application/json", R"({"signature": "AA=="})"};
    }
  });
  const TCloudAnswer Answer = Call(Server.Url("/v1/key:sign"));
  EXPECT_FALSE(Answer.Failure) << Answer.Failure.Detail;
  EXPECT_EQ(Answer.Status, 200);
  EXPECT_EQ(Answer.Body, R"({"signature": "AA=="})");
  EXPECT_EQ(Asked, 4);
}

TEST_F(CloudCallTest, RefusalsEndAtOnceWithTheServicesWords) {
  struct TCase {
    THttpResponse Response;
    TKind Kind;
    std::string Detail;
  };
  const std::vector<TCase> Cases{
      {{401, "application/json", R"({"error": {"code": 401, "message": "token expired"}})"}, TKind::Unauthorized,
       "HTTP 401: token expired"},
      {{403, "application/json", R"({"error": {"code": "Forbidden", "message": "no sign permission"}})"}, TKind::Forbidden,
       "HTTP 403: no sign permission"},
      {{404, "text/html", "<html>not here</html>"}, TKind::NotFound, "HTTP 404"},
      {{400, "application/json", R"({"__type": "ValidationException", "message": "bad digest"})"}, TKind::Refused,
       "HTTP 400: bad digest"},
      {{429, "application/json", R"({"error": {"message": "Quota exceeded for signing"}})"}, TKind::Quota,
       "HTTP 429: Quota exceeded for signing"},
      // Longer than the call may last: not waited for.
      {{429, "text/plain", "later", {{"Retry-After", "3600"}}}, TKind::Throttled, "HTTP 429, asked to wait 3600 s"},
  };
  for (const TCase& Case : Cases) {
    LoopbackHttpServer Server([&Case](const THttpRequest&) { return std::optional<THttpResponse>(Case.Response); });
    const TCloudAnswer Answer = Call(Server.Url("/key"));
    EXPECT_EQ(Answer.Failure.Kind, Case.Kind) << Case.Detail;
    EXPECT_EQ(Answer.Failure.Detail, Case.Detail);
    EXPECT_EQ(Server.RequestCount(), 1) << Case.Detail;
  }
}

TEST_F(CloudCallTest, OnlyHttpsLeavesThisMachineAndAnInterruptionEndsTheWait) {
  const TCloudAnswer Plain = Call("http://example.com/key");
  EXPECT_EQ(Plain.Failure.Kind, TKind::Refused);
  EXPECT_NE(Plain.Failure.Detail.find("only https://"), std::string::npos);

  LoopbackHttpServer Silent([](const THttpRequest&) { return std::optional<THttpResponse>(); });
  Interruption = ::eventfd(1, EFD_CLOEXEC);
  const TCloudAnswer Interrupted = Call(Silent.Url("/key"));
  ::close(Interruption);
  EXPECT_EQ(Interrupted.Failure.Kind, TKind::Interrupted);
}
}  // namespace
