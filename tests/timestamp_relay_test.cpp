// The relay signtool.exe sends osslsigncode's time-stamp requests through.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "TimestampRelay.h"
#include "support/LoopbackHttpServer.h"

namespace {
// Sends Request to the relay as a proxy client would, and returns the whole answer.
std::string ThroughRelay(const std::string& ProxyUrl, const std::string& Request) {
  const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(ProxyUrl.substr(ProxyUrl.rfind(':') + 1))));
  std::string Answer;
  if (::connect(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof Address) == 0 &&
      ::send(Fd, Request.data(), Request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(Request.size())) {
    char Chunk[4096];
    for (ssize_t Count; (Count = ::recv(Fd, Chunk, sizeof Chunk, 0)) > 0;) Answer.append(Chunk, static_cast<std::size_t>(Count));
  }
  ::close(Fd);
  return Answer;
}

std::string Post(const std::string& Url) {
  return "POST " + Url + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/timestamp-query\r\n"
         "Content-Length: 5\r\n\r\nquery";
}
}  // namespace

TEST(TimestampRelay, PassesOnOnlyRequestsForItsOwnServers) {
  const auto Answer = [](const THttpRequest& Request) -> std::optional<THttpResponse> {
    if (Request.Body != "query") return THttpResponse{400, "text/plain", "", {}};
    return THttpResponse{429, "text/plain", "later", {{"Retry-After", "7"}}};
  };
  LoopbackHttpServer Own(Answer), Other(Answer);
  // The server's host is compared without case, and a missing path is the root.
  TTimestampRelay Relay({"http://LocalHost:" + std::to_string(Own.Port())});
  ASSERT_FALSE(Relay.ProxyUrl().empty());

  const std::string Passed = ThroughRelay(Relay.ProxyUrl(), Post("http://localhost:" + std::to_string(Own.Port()) + "/tsa"));
  EXPECT_EQ(Passed.rfind("HTTP/1.1 429", 0), 0u) << Passed;
  EXPECT_EQ(Own.RequestCount(), 1);
  const TTimestampRelay::TSeen Seen = Relay.TakeSeen();
  ASSERT_TRUE(Seen.Reached && Seen.Answer);
  EXPECT_EQ(Seen.Answer->Status, 429);
  EXPECT_EQ(Seen.Answer->RetryAfter, std::chrono::seconds(7));

  // Another server, and the same server under another name, are refused without being asked.
  for (const std::string& Url : {Other.Url("/tsa"), Own.Url("/tsa")}) {
    const std::string Refused = ThroughRelay(Relay.ProxyUrl(), Post(Url));
    EXPECT_EQ(Refused.rfind("HTTP/1.0 403", 0), 0u) << Url << ": " << Refused;
    EXPECT_FALSE(Relay.TakeSeen().Reached) << Url;
  }
  EXPECT_EQ(Other.RequestCount(), 0);
  EXPECT_EQ(Own.RequestCount(), 1);
}
