// The update component: its text format, and DoUpdate against a real loopback server.
#include <gtest/gtest.h>

#include <QWidget>
#include <string>
#include <vector>

#include "Update.h"
#include "support/LoopbackHttpServer.h"
#include "support/UrlRecorder.h"
#include "vendor/UpdateText.h"

TEST(UpdateText, VersionsHaveOneToFourSmallNumbers) {
  EXPECT_EQ(ParseVersion("3.0.9.1"), (TVersion{3, 0, 9, 1}));
  EXPECT_EQ(ParseVersion("3.1"), (TVersion{3, 1, 0, 0}));
  EXPECT_EQ(ParseVersion("4"), (TVersion{4, 0, 0, 0}));
  EXPECT_EQ(ParseVersion("65535.0.0.65535"), (TVersion{65535, 0, 0, 65535}));
  for (const char* Bad : {"", ".", "3.", ".3", "3..1", "1.2.3.4.5", "65536", "3.0.9.1a", "v3", "3,1", "-1",
                          "3. 1", "123456"})
    EXPECT_FALSE(ParseVersion(Bad).has_value()) << Bad;
}

TEST(UpdateText, VersionAddressAndNotes) {
  const auto Info = ParseUpdateText("\xEF\xBB\xBF 3.1.0.2 \r\nhttp://v.example/get.html\r\nFaster.\r\nSmaller.\r\n");
  ASSERT_TRUE(Info.has_value());
  EXPECT_EQ(Info->Version, (TVersion{3, 1, 0, 2}));
  EXPECT_EQ(Info->DownloadUrl, "http://v.example/get.html");
  EXPECT_EQ(Info->Notes, "Faster.\nSmaller.");

  const auto Bare = ParseUpdateText("3.2\nhttp://v.example/");
  ASSERT_TRUE(Bare.has_value());
  EXPECT_EQ(Bare->Notes, "");
  EXPECT_EQ(VersionText(Bare->Version), "3.2.0.0");
}

TEST(UpdateText, AnythingElseIsNoAnnouncement) {
  const std::vector<std::string> Texts{"", "3.1", "3.1\n", "3.1\n   \n", "<html>Not found</html>\nhttp://v.example/",
                                      "\nhttp://v.example/", std::string("3\0.1\nhttp://v.example/", 21)};
  for (const std::string& Bad : Texts) EXPECT_FALSE(ParseUpdateText(Bad).has_value()) << Bad;
  std::string Huge = "3.1\nhttp://v.example/\n" + std::string(MaxUpdateTextBytes, 'x');
  EXPECT_FALSE(ParseUpdateText(Huge).has_value());
}

TEST(UpdateText, LongNotesAreCutBetweenCharacters) {
  std::string Notes;
  while (Notes.size() < MaxUpdateNotesBytes + 10) Notes += "新";  // three bytes each
  const auto Info = ParseUpdateText("3.1\nhttp://v.example/\n" + Notes);
  ASSERT_TRUE(Info.has_value());
  EXPECT_LE(Info->Notes.size(), MaxUpdateNotesBytes);
  EXPECT_EQ(Info->Notes.size() % 3, 0u);
  EXPECT_EQ(Info->Notes, Notes.substr(0, Info->Notes.size()));
}

namespace {
struct TQuestion {
  std::string Title, Text;
};
std::vector<TQuestion> Questions;
int NextAnswer = 7;

int RecordQuestion(void*, const char* Title, const char* Text) {
  Questions.push_back({Title, Text});
  return NextAnswer;
}

class DoUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Questions.clear();
    NextAnswer = 7;
    UpdateSetQuestionHandler(RecordQuestion, nullptr);
    UpdateSetTimeLimit(1000);
  }
  void TearDown() override {
    UpdateSetQuestionHandler(nullptr, nullptr);
    UpdateSetTimeLimit(0);
  }

  // Serves Body with Status at /update.txt; every other path is missing.
  static LoopbackHttpServer::Handler Serving(int Status, std::string Body) {
    return [Status, Body](const THttpRequest& Request) -> std::optional<THttpResponse> {
      if (Request.Target != "/update.txt") return THttpResponse{404, "text/plain", "missing"};
      return THttpResponse{Status, "text/plain", Body};
    };
  }
  static std::string Announcing(const LoopbackHttpServer& Server, const std::string& Version) {
    return Version + "\n" + Server.Url("/download.html") + "\nBetter signing.\n";
  }
};
}  // namespace

TEST_F(DoUpdateTest, NewerVersionAsksAndOpensTheDownloadPageOnYes) {
  std::string Body;
  LoopbackHttpServer Server([&](const THttpRequest& Request) -> std::optional<THttpResponse> {
    return THttpResponse{200, "text/plain", Request.Target == "/update.txt" ? Body : ""};
  });
  Body = Announcing(Server, "3.0.10");
  UrlRecorder Browser("http");
  QWidget Owner;
  NextAnswer = 6;
  DoUpdate(reinterpret_cast<void*>(Owner.winId()), Server.Url("/update.txt").c_str());
  ASSERT_EQ(Questions.size(), 1u);
  EXPECT_EQ(Questions[0].Title, "Quillory");
  EXPECT_NE(Questions[0].Text.find("3.0.10.0"), std::string::npos);
  EXPECT_NE(Questions[0].Text.find("3.0.9.1"), std::string::npos);
  EXPECT_NE(Questions[0].Text.find("Better signing."), std::string::npos);
  ASSERT_EQ(Browser.Opened().size(), 1u);
  EXPECT_EQ(Browser.Opened()[0], QUrl(QString::fromStdString(Server.Url("/download.html"))));
  EXPECT_EQ(Server.RequestCount(), 1);
}

TEST_F(DoUpdateTest, NewerVersionOpensNothingOnNo) {
  std::string Body;
  LoopbackHttpServer Server([&](const THttpRequest&) -> std::optional<THttpResponse> {
    return THttpResponse{200, "text/plain", Body};
  });
  Body = Announcing(Server, "4.0.0.0");
  UrlRecorder Browser("http");
  DoUpdate(nullptr, Server.Url("/update.txt").c_str());
  EXPECT_EQ(Questions.size(), 1u);
  EXPECT_TRUE(Browser.Opened().empty());
}

TEST_F(DoUpdateTest, SameOrOlderVersionShowsNothing) {
  for (const char* Version : {"3.0.9.1", "3.0.9", "3.0.8.99", "2.99"}) {
    std::string Body;
    LoopbackHttpServer Server([&](const THttpRequest&) -> std::optional<THttpResponse> {
      return THttpResponse{200, "text/plain", Body};
    });
    Body = Announcing(Server, Version);
    DoUpdate(nullptr, Server.Url("/update.txt").c_str());
    EXPECT_EQ(Server.RequestCount(), 1) << Version;
    EXPECT_TRUE(Questions.empty()) << Version;
  }
}

TEST_F(DoUpdateTest, FailuresShowNothing) {
  struct TCase {
    const char* What;
    int Status;
    std::string Body;
  };
  const TCase Cases[] = {
      {"garbage", 200, "<html><body>Welcome</body></html>"},
      {"empty text", 200, ""},
      {"not found", 404, "9.9.9.9\nhttp://127.0.0.1/download.html\n"},
      {"server error", 500, "9.9.9.9\nhttp://127.0.0.1/download.html\n"},
      {"redirect", 302, "9.9.9.9\nhttp://127.0.0.1/download.html\n"},
      {"download on another host", 200, "9.9.9.9\nhttp://elsewhere.example/download.html\n"},
      {"download address not on the web", 200, "9.9.9.9\nfile:///etc/passwd\n"},
  };
  UrlRecorder Browser("http");
  for (const TCase& Case : Cases) {
    LoopbackHttpServer Server(Serving(Case.Status, Case.Body));
    DoUpdate(nullptr, Server.Url("/update.txt").c_str());
    EXPECT_EQ(Server.RequestCount(), 1) << Case.What;
    EXPECT_TRUE(Questions.empty()) << Case.What;
  }
  EXPECT_TRUE(Browser.Opened().empty());
}

TEST_F(DoUpdateTest, AServerThatNeverAnswersIsGivenUpOnAtTheTimeLimit) {
  LoopbackHttpServer Server([](const THttpRequest&) -> std::optional<THttpResponse> { return std::nullopt; });
  DoUpdate(nullptr, Server.Url("/update.txt").c_str());
  EXPECT_EQ(Server.RequestCount(), 1);
  EXPECT_TRUE(Questions.empty());
}

TEST_F(DoUpdateTest, NoServerAndUnusableArgumentsShowNothing) {
  std::uint16_t ClosedPort;
  {
    LoopbackHttpServer Gone([](const THttpRequest&) -> std::optional<THttpResponse> { return std::nullopt; });
    ClosedPort = Gone.Port();
  }
  DoUpdate(nullptr, ("http://127.0.0.1:" + std::to_string(ClosedPort) + "/update.txt").c_str());
  DoUpdate(nullptr, nullptr);
  DoUpdate(nullptr, "");
  DoUpdate(nullptr, "not an address");
  DoUpdate(nullptr, "file:///etc/hostname");
  EXPECT_TRUE(Questions.empty());
}
