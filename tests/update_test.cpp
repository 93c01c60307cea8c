// The update component: its text format, and DoUpdate against a real loopback server.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <QWidget>
#include <cstring>
#include <utility>
#include <string>
#include <vector>

#include "Update.h"
#include "support/LoopbackHttpServer.h"
#include "support/UrlRecorder.h"
#include "common/HttpResponseReader.h"
#include "common/UpdateText.h"

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

namespace {
// The reader's verdict on Answer fed in pieces of Piece bytes, then the connection's end.
std::pair<THttpResponseReader::TState, std::string> ReadAnswer(std::string_view Answer, std::size_t Piece,
                                                               std::size_t MaxBody = 64) {
  THttpResponseReader Reader(MaxBody);
  for (std::size_t At = 0; At < Answer.size(); At += Piece) Reader.Feed(Answer.substr(At, Piece));
  Reader.End();
  return {Reader.State(), std::to_string(Reader.Status()) + " " + Reader.Body()};
}
using TState = THttpResponseReader::TState;
}  // namespace

TEST(HttpResponseReader, BodiesByLengthByChunksAndByTheEndInAnyPieces) {
  const std::pair<const char*, const char*> Answers[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n3.1.0and more", "200 3.1.0"},
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\ntransfer-encoding: gzip, Chunked\r\n\r\n"
       "4;ext=1\r\n3.1.\r\n1\n0\r\n0\r\nX-Trailer: t\r\n\r\n",
       "200 3.1.0"},
      {"HTTP/1.0 404 Not Found\nServer: x\n\nmissing", "404 missing"},
      {"HTTP/1.1 204 No Content\r\n\r\n", "204 "},
  };
  for (const auto& [Answer, Expected] : Answers)
    for (std::size_t Piece : {std::size_t{1}, std::size_t{7}, std::strlen(Answer)})
      EXPECT_EQ(ReadAnswer(Answer, Piece), std::make_pair(TState::Done, std::string(Expected))) << Answer << Piece;
}

TEST(HttpResponseReader, EndlessOrMalformedAnswersFailAsSoonAsTheyPassALimit) {
  const std::string Fields = [] {
    std::string Text;
    for (std::size_t I = 0; I <= THttpResponseReader::MaxHeaderFields; ++I) Text += "X-" + std::to_string(I) + ": 1\r\n";
    return Text;
  }();
  const std::string Refused[] = {
      "HTTP/1.1 200 OK\r\nX: " + std::string(THttpResponseReader::MaxHeadBytes, 'a'),
      "HTTP/1.1 200 OK\r\n" + Fields + "\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 65\r\n\r\n",
      "HTTP/1.1 200 OK\r\n\r\n" + std::string(65, 'x'),
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n41\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab",
      "HTTP/1.1 200 OK\r\n folded: line\r\n\r\n",
      "ICY 200 OK\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\ncut short",
  };
  for (const std::string& Answer : Refused) EXPECT_EQ(ReadAnswer(Answer, 5).first, TState::Failed) << Answer;

  THttpResponseReader Endless(64);
  EXPECT_EQ(Endless.Feed("HTTP/1.1 200 OK\r\n"), TState::More);
  TState State = TState::More;
  for (int I = 0; I < 10'000 && State == TState::More; ++I) State = Endless.Feed("X-Flood: yes\r\n");
  EXPECT_EQ(State, TState::Failed);
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
      {"download on another port", 200, "9.9.9.9\nhttp://127.0.0.1:1/download.html\n"},
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

TEST_F(DoUpdateTest, AHeadWithoutEndIsGivenUpOnWithinTheTimeLimit) {
  const std::string Status = "HTTP/1.1 200 OK\r\n";
  const THttpFlood Floods[] = {
      {Status + "X-Endless: ", std::string(4096, 'a'), {}},
      {Status, "X-Field: " + std::string(64, 'b') + "\r\n", {}},
      {Status, "X-Slow: c\r\n", std::chrono::milliseconds(50)},
  };
  for (const THttpFlood& Flood : Floods) {
    LoopbackHttpServer Server(Flood);
    QElapsedTimer Clock;
    Clock.start();
    DoUpdate(nullptr, Server.Url("/update.txt").c_str());
    // The fixture's limit is one second; the slack is for a busy machine, not for a second pass.
    EXPECT_LT(Clock.elapsed(), 2000) << Flood.Repeated.substr(0, 12);
    EXPECT_EQ(Server.RequestCount(), 1);
    EXPECT_TRUE(Questions.empty());
  }
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
