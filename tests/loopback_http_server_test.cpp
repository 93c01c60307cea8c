#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/LoopbackHttpServer.h"

namespace {
int Connect(std::uint16_t Port) {
  const int Socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = htons(Port);
  EXPECT_EQ(::connect(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)), 0);
  return Socket;
}

// Sends Request in pieces of at most Step bytes and reads until the server closes.
std::string Exchange(std::uint16_t Port, const std::string& Request, std::size_t Step = 1 << 20) {
  const int Socket = Connect(Port);
  for (std::size_t Pos = 0; Pos < Request.size(); Pos += Step) {
    const std::string Piece = Request.substr(Pos, Step);
    EXPECT_EQ(::send(Socket, Piece.data(), Piece.size(), MSG_NOSIGNAL), static_cast<ssize_t>(Piece.size()));
  }
  std::string Reply;
  char Buffer[4096];
  ssize_t Count;
  while ((Count = ::recv(Socket, Buffer, sizeof(Buffer), 0)) > 0) Reply.append(Buffer, Count);
  ::close(Socket);
  return Reply;
}

THttpRequest LastRequest;

std::optional<THttpResponse> Echo(const THttpRequest& Request) {
  LastRequest = Request;
  return THttpResponse{201, "application/x-echo", Request.Method + " " + Request.Target + " " + Request.Body};
}
}  // namespace

TEST(LoopbackHttpServer, AnswersWithStatusTypeAndBody) {
  LoopbackHttpServer Server(Echo);
  EXPECT_EQ(Server.Url("/x"), "http://127.0.0.1:" + std::to_string(Server.Port()) + "/x");
  const std::string Reply = Exchange(
      Server.Port(), "POST /stamp?a=1 HTTP/1.1\r\nHost: here\r\nContent-TYPE:  text/x \r\n"
                     "Content-Length: 11\r\n\r\nhello world",
      3);
  EXPECT_EQ(Reply.substr(0, Reply.find("\r\n")), "HTTP/1.1 201 Status");
  EXPECT_NE(Reply.find("\r\nContent-Type: application/x-echo\r\n"), std::string::npos);
  EXPECT_NE(Reply.find("\r\nContent-Length: 27\r\n"), std::string::npos);
  EXPECT_EQ(Reply.substr(Reply.find("\r\n\r\n") + 4), "POST /stamp?a=1 hello world");
  EXPECT_EQ(LastRequest.Headers.at("content-type"), "text/x");
  EXPECT_EQ(LastRequest.Headers.at("host"), "here");
  EXPECT_EQ(Server.RequestCount(), 1);
}

TEST(LoopbackHttpServer, ReadsChunkedBodiesAndAnswersExpectContinue) {
  LoopbackHttpServer Server(Echo);
  const std::string Reply = Exchange(
      Server.Port(), "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nExpect: 100-continue\r\n\r\n"
                     "5\r\nhello\r\nB\r\n, chunked!!\r\n0\r\n\r\n");
  EXPECT_EQ(Reply.rfind("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201", 0), 0u) << Reply;
  EXPECT_EQ(LastRequest.Body, "hello, chunked!!");
}

TEST(LoopbackHttpServer, MalformedRequestIsDroppedAndServingGoesOn) {
  LoopbackHttpServer Server(Echo);
  EXPECT_EQ(Exchange(Server.Port(), "nonsense\r\n\r\n"), "");
  EXPECT_EQ(Exchange(Server.Port(), "GET / HTTP/1.1\r\nContent-Length: x\r\n\r\n"), "");
  EXPECT_EQ(Server.RequestCount(), 0);
  EXPECT_NE(Exchange(Server.Port(), "GET /ok HTTP/1.1\r\n\r\n").find("GET /ok "), std::string::npos);
}

TEST(LoopbackHttpServer, UnansweredRequestsHoldTheirConnectionUntilStop) {
  int Held = -1;
  {
    LoopbackHttpServer Server([](const THttpRequest& Request) -> std::optional<THttpResponse> {
      if (Request.Target == "/never") return std::nullopt;
      return THttpResponse{};
    });
    Held = Connect(Server.Port());
    const std::string Request = "GET /never HTTP/1.1\r\n\r\n";
    ASSERT_EQ(::send(Held, Request.data(), Request.size(), 0), static_cast<ssize_t>(Request.size()));
    // Connections are served side by side: the held one is read on a thread of its own.
    for (int Tries = 0; Tries < 1000 && Server.RequestCount() == 0; ++Tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(Server.RequestCount(), 1);
    // A later client is still served, and one that connects and says nothing does not block stop.
    EXPECT_NE(Exchange(Server.Port(), "GET / HTTP/1.1\r\n\r\n").find("200 OK"), std::string::npos);
    EXPECT_EQ(Server.RequestCount(), 2);
    const int Mute = Connect(Server.Port());
    (void)Mute;  // closed by the process exit; the server must still stop
  }
  char Byte;
  EXPECT_EQ(::recv(Held, &Byte, 1, 0), 0) << "the held connection is closed once the server stops";
  ::close(Held);
}
