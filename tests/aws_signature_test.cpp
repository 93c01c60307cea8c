// AWS Signature Version 4 against AWS's published test suite, and the credentials AWS's tools find.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cloud/AwsCredentials.h"
#include "cloud/AwsSignature.h"
#include "support/ScopedEnvironment.h"

namespace {
// Cases of the Signature Version 4 test suite AWS published
// (docs.aws.amazon.com/general/latest/gr/signature-v4-test-suite.html), as AWS keeps it today in
// github.com/awslabs/aws-c-auth, tests/aws-signing-test-suite/v4/<name>/: request.txt,
// header-canonical-request.txt and header-signature.txt, with context.json's session token and
// sign_body. All are signed with the key AKIDEXAMPLE / wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY
// for us-east-1 and the service "service" at 2015-08-30T12:36:00Z. The suite's "normalized"
// cases (dot segments in paths) and the S3-only ones are left out: requests here are never
// normalised.
struct TSuiteCase {
  const char* Name;
  bool SignBody;  // the suite then also sends and signs X-Amz-Content-Sha256
  const char* SessionToken;
  const char* Request;
  const char* CanonicalRequest;
  const char* Signature;
};

const TSuiteCase SuiteCases[] = {
    {"get-vanilla", false, "",
     R"(GET / HTTP/1.1
Host:example.amazonaws.com)",
     R"(GET
/

host:example.amazonaws.com
x-amz-date:20150830T123600Z

host;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "5fa00fa31553b73ebf1942676e86291e8372ff2a2260956d9b8aae1d763fbf31"},
    {"post-vanilla", false, "",
     R"(POST / HTTP/1.1
Host:example.amazonaws.com)",
     R"(POST
/

host:example.amazonaws.com
x-amz-date:20150830T123600Z

host;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "5da7c1a2acd57cee7505fc6676e4e544621c30862966e37dddb68e92efbe5d6b"},
    {"get-vanilla-query-order-key-case", false, "",
     R"(GET /?Param2=value2&Param1=value1 HTTP/1.1
Host:example.amazonaws.com)",
     R"(GET
/
Param1=value1&Param2=value2
host:example.amazonaws.com
x-amz-date:20150830T123600Z

host;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "b97d918cfa904a5beff61c982a1b6f458b799221646efd99d3219ec94cdf2500"},
    {"get-vanilla-query-order-encoded", false, "",
     R"(GET /?Param-3=Value3&Param=Value2&%E1%88%B4=Value1 HTTP/1.1
Host:example.amazonaws.com)",
     R"(GET
/
%E1%88%B4=Value1&Param=Value2&Param-3=Value3
host:example.amazonaws.com
x-amz-date:20150830T123600Z

host;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "371d3713e185cc334048618a97f809c9ffe339c62934c032af5a0e595648fcac"},
    {"get-vanilla-query-unreserved", false, "",
     R"(GET /?-._~0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz=-._~0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz HTTP/1.1
Host:example.amazonaws.com)",
     R"(GET
/
-._~0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz=-._~0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz
host:example.amazonaws.com
x-amz-date:20150830T123600Z

host;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "9c3e54bfcdf0b19771a7f523ee5669cdf59bc7cc0884027167c21bb143a40197"},
    {"get-vanilla-utf8-query", false, "",
     R"(GET /?ሴ=bar HTTP/1.1
Host:example.amazonaws.com)",
     R"(GET
/
%E1%88%B4=bar
host:example.amazonaws.com
x-amz-date:20150830T123600Z

host;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "2cdec8eed098649ff3a119c94853b13c643bcf08f8b0a1d91e12c9027818dd04"},
    {"get-unreserved", false, "",
     R"(GET /-._~0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz HTTP/1.1
Host:example.amazonaws.com)",
     R"(GET
/-._~0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz

host:example.amazonaws.com
x-amz-date:20150830T123600Z

host;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "07ef7494c76fa4850883e2b006601f940f8a34d404d0cfa977f52a65bbf5f24f"},
    {"get-utf8", false, "",
     R"(GET /ሴ HTTP/1.1
Host:example.amazonaws.com)",
     R"(GET
/%E1%88%B4

host:example.amazonaws.com
x-amz-date:20150830T123600Z

host;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "8318018e0b0f223aa2bbf98705b62bb787dc9c0e678f255a891fd03141be5d85"},
    {"get-space-unnormalized", false, "",
     R"(GET /example space/ HTTP/1.1
Host:example.amazonaws.com)",
     R"(GET
/example%20space/

host:example.amazonaws.com
x-amz-date:20150830T123600Z

host;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "652487583200325589f1fba4c7e578f72c47cb61beeca81406b39ddec1366741"},
    {"get-slashes-unnormalized", false, "",
     R"(GET //example// HTTP/1.1
Host:example.amazonaws.com)",
     R"(GET
//example//

host:example.amazonaws.com
x-amz-date:20150830T123600Z

host;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "87cca117541a147f6df867677d98a7d80dff226d2bfca9e4ffa899665623c7e5"},
    {"get-header-key-duplicate", false, "",
     R"(GET / HTTP/1.1
Host:example.amazonaws.com
My-Header1:value2
My-Header1:value2
My-Header1:value1)",
     R"(GET
/

host:example.amazonaws.com
my-header1:value2,value2,value1
x-amz-date:20150830T123600Z

host;my-header1;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "c9d5ea9f3f72853aea855b47ea873832890dbdd183b4468f858259531a5138ea"},
    {"get-header-value-order", false, "",
     R"(GET / HTTP/1.1
Host:example.amazonaws.com
My-Header1:value4
My-Header1:value1
My-Header1:value3
My-Header1:value2)",
     R"(GET
/

host:example.amazonaws.com
my-header1:value4,value1,value3,value2
x-amz-date:20150830T123600Z

host;my-header1;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "08c7e5a9acfcfeb3ab6b2185e75ce8b1deb5e634ec47601a50643f830c755c01"},
    {"get-header-value-trim", false, "",
     R"(GET / HTTP/1.1
Host:example.amazonaws.com
My-Header1: value1
My-Header2: "a   b   c")",
     R"(GET
/

host:example.amazonaws.com
my-header1:value1
my-header2:"a b c"
x-amz-date:20150830T123600Z

host;my-header1;my-header2;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "acc3ed3afb60bb290fc8d2dd0098b9911fcaa05412b367055dee359757a9c736"},
    {"get-header-value-multiline", false, "",
     R"(GET / HTTP/1.1
Host:example.amazonaws.com
My-Header1:value1
  value2
     value3)",
     R"(GET
/

host:example.amazonaws.com
my-header1:value1 value2 value3
x-amz-date:20150830T123600Z

host;my-header1;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "cfd34249e4b1c8d6b91ef74165d41a32e5fab3306300901bb65a51a73575eefd"},
    {"post-header-value-case", false, "",
     R"(POST / HTTP/1.1
Host:example.amazonaws.com
My-Header1:VALUE1)",
     R"(POST
/

host:example.amazonaws.com
my-header1:VALUE1
x-amz-date:20150830T123600Z

host;my-header1;x-amz-date
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "cdbc9802e29d2942e5e10b5bccfdd67c5f22c7c4e8ae67b53629efa58b974b7d"},
    {"post-x-www-form-urlencoded", true, "",
     R"(POST / HTTP/1.1
Content-Type:application/x-www-form-urlencoded
Host:example.amazonaws.com
Content-Length:13

Param1=value1)",
     R"(POST
/

content-length:13
content-type:application/x-www-form-urlencoded
host:example.amazonaws.com
x-amz-content-sha256:9095672bbd1f56dfc5b65f3e153adc8731a4a654192329106275f4c7b24d0b6e
x-amz-date:20150830T123600Z

content-length;content-type;host;x-amz-content-sha256;x-amz-date
9095672bbd1f56dfc5b65f3e153adc8731a4a654192329106275f4c7b24d0b6e)",
     "d3875051da38690788ef43de4db0d8f280229d82040bfac253562e56c3f20e0b"},
    {"get-vanilla-with-session-token", false, "6e86291e8372ff2a2260956d9b8aae1d763fbf315fa00fa31553b73ebf194267",
     R"(GET / HTTP/1.1
Host:example.amazonaws.com)",
     R"(GET
/

host:example.amazonaws.com
x-amz-date:20150830T123600Z
x-amz-security-token:6e86291e8372ff2a2260956d9b8aae1d763fbf315fa00fa31553b73ebf194267

host;x-amz-date;x-amz-security-token
e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855)",
     "07ec1639c89043aa0e3e2de82b96708f198cceab042d4a97044c66dd9f74e7f8"},
};

constexpr std::time_t SuiteTime = 1440938160;  // 2015-08-30T12:36:00Z

// request.txt: the request line, headers (a line that starts with blanks continues the one before),
// a blank line and the body.
TAwsRequest ParseSuiteRequest(const std::string& Text) {
  const std::size_t HeadEnd = Text.find("\n\n");
  std::istringstream Head(Text.substr(0, HeadEnd));
  TAwsRequest Request;
  std::string Line;
  std::getline(Head, Line);
  Request.Method = Line.substr(0, Line.find(' '));
  Request.Target = Line.substr(Line.find(' ') + 1, Line.rfind(' ') - Line.find(' ') - 1);
  while (std::getline(Head, Line)) {
    if (Line.front() == ' ') Request.Headers.back().second += "\n" + Line;
    else Request.Headers.emplace_back(Line.substr(0, Line.find(':')), Line.substr(Line.find(':') + 1));
  }
  if (HeadEnd != std::string::npos) Request.Body = Text.substr(HeadEnd + 2);
  return Request;
}

// The canonical request's last line.
std::string PayloadHash(const std::string& CanonicalRequest) {
  return CanonicalRequest.substr(CanonicalRequest.rfind('\n') + 1);
}

// The canonical request's line before the last.
std::string SignedHeaderList(const std::string& CanonicalRequest) {
  const std::size_t LastLine = CanonicalRequest.rfind('\n');
  const std::size_t LineBefore = CanonicalRequest.rfind('\n', LastLine - 1);
  return CanonicalRequest.substr(LineBefore + 1, LastLine - LineBefore - 1);
}
}  // namespace

TEST(AwsSignature, SignsEachCaseOfAwsTestSuiteAsPublished) {
  for (const TSuiteCase& Case : SuiteCases) {
    SCOPED_TRACE(Case.Name);
    TAwsRequest Request = ParseSuiteRequest(Case.Request);
    if (Case.SignBody) Request.Headers.emplace_back("X-Amz-Content-Sha256", PayloadHash(Case.CanonicalRequest));
    SignAwsRequest(Request, {"AKIDEXAMPLE", "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY", Case.SessionToken},
                   "us-east-1", "service", SuiteTime);
    ASSERT_EQ(Request.Headers.back().first, "Authorization");
    const std::string Authorization = Request.Headers.back().second;
    Request.Headers.pop_back();
    EXPECT_EQ(AwsCanonicalRequest(Request), Case.CanonicalRequest);
    EXPECT_EQ(Authorization, "AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/us-east-1/service/aws4_request, "
                             "SignedHeaders=" + SignedHeaderList(Case.CanonicalRequest) +
                                 ", Signature=" + Case.Signature);
  }
}

namespace {
// The environment AWS's tools read, cleared for a test and put back afterwards, with a
// credentials file of the test's own.
class AwsCredentialsTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove(CredentialsPath); }
  void WriteCredentialsFile(const std::string& Text) { std::ofstream(CredentialsPath) << Text; }

  const std::string CredentialsPath = ::testing::TempDir() + "aws_credentials_" + std::to_string(::getpid());
  TScopedEnvironment KeyId{"AWS_ACCESS_KEY_ID", std::nullopt};
  TScopedEnvironment Secret{"AWS_SECRET_ACCESS_KEY", std::nullopt};
  TScopedEnvironment Token{"AWS_SESSION_TOKEN", std::nullopt};
  TScopedEnvironment Profile{"AWS_PROFILE", std::nullopt};
  TScopedEnvironment File{"AWS_SHARED_CREDENTIALS_FILE", CredentialsPath};
};

const char SharedCredentials[] = R"(# a comment
[default]
aws_access_key_id = AKIDDEFAULT
aws_secret_access_key=default/secret+key

[release]
; the release pipeline's temporary keys
aws_access_key_id=ASIARELEASE
aws_secret_access_key = release-secret
aws_session_token = release-token==
)";
}  // namespace

TEST_F(AwsCredentialsTest, EnvironmentComesBeforeTheCredentialsFile) {
  WriteCredentialsFile(SharedCredentials);
  const TScopedEnvironment EnvironmentKeyId("AWS_ACCESS_KEY_ID", "AKIDENV");
  const TScopedEnvironment EnvironmentSecret("AWS_SECRET_ACCESS_KEY", "env-secret");
  const TScopedEnvironment EnvironmentToken("AWS_SESSION_TOKEN", "env-token");
  const TAwsCredentialsLookup Found = FindAwsCredentials();
  EXPECT_EQ(Found.Problem, "");
  EXPECT_EQ(Found.Credentials.AccessKeyId, "AKIDENV");
  EXPECT_EQ(Found.Credentials.SecretAccessKey, "env-secret");
  EXPECT_EQ(Found.Credentials.SessionToken, "env-token");
}

TEST_F(AwsCredentialsTest, ProfilesOfTheCredentialsFile) {
  WriteCredentialsFile(SharedCredentials);
  TAwsCredentialsLookup Found = FindAwsCredentials();
  EXPECT_EQ(Found.Credentials.AccessKeyId, "AKIDDEFAULT");
  EXPECT_EQ(Found.Credentials.SecretAccessKey, "default/secret+key");
  EXPECT_EQ(Found.Credentials.SessionToken, "");

  const TScopedEnvironment Named("AWS_PROFILE", "release");
  Found = FindAwsCredentials();
  EXPECT_EQ(Found.Credentials.AccessKeyId, "ASIARELEASE");
  EXPECT_EQ(Found.Credentials.SecretAccessKey, "release-secret");
  EXPECT_EQ(Found.Credentials.SessionToken, "release-token==");
}

TEST_F(AwsCredentialsTest, WhatIsMissingIsNamedAndNoSecretIsRepeated) {
  EXPECT_NE(FindAwsCredentials().Problem.find(CredentialsPath + " does not exist"), std::string::npos);

  WriteCredentialsFile(SharedCredentials);
  {
    const TScopedEnvironment Named("AWS_PROFILE", "staging");
    EXPECT_NE(FindAwsCredentials().Problem.find("no profile \"staging\""), std::string::npos);
  }
  {
    const TScopedEnvironment HalfSet("AWS_SECRET_ACCESS_KEY", "lonely-secret");
    const TAwsCredentialsLookup Found = FindAwsCredentials();
    EXPECT_NE(Found.Problem.find("must be set together"), std::string::npos);
    EXPECT_EQ(Found.Problem.find("lonely-secret"), std::string::npos);
  }
  WriteCredentialsFile("[default]\naws_access_key_id = AKIDONLY\n");
  const TAwsCredentialsLookup Found = FindAwsCredentials();
  EXPECT_NE(Found.Problem.find("lacks aws_access_key_id or aws_secret_access_key"), std::string::npos);
  EXPECT_EQ(Found.Credentials.AccessKeyId, "");
}
