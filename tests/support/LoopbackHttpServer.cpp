#include "support/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "common/TextUtil.h"

namespace {
constexpr std::size_t MaxHeaderBytes = 64 * 1024;

const char* ReasonPhrase(int Status) {
  switch (Status) {
    case 200: return "OK";
    case 202: return "Accepted";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

void SendAll(int Connection, const std::string& Data) {
  std::size_t Done = 0;
  while (Done < Data.size()) {
    const ssize_t Sent = ::send(Connection, Data.data() + Done, Data.size() - Done, MSG_NOSIGNAL);
    if (Sent < 0 && errno == EINTR) continue;
    if (Sent <= 0) return;  // the client went away; nothing more to tell it
    Done += static_cast<std::size_t>(Sent);
  }
}

std::optional<std::size_t> ParseSize(const std::string& Text, int Base) {
  if (Text.empty()) return std::nullopt;
  char* End = nullptr;
  errno = 0;
  const unsigned long long Value = std::strtoull(Text.c_str(), &End, Base);
  if (errno != 0 || End == Text.c_str()) return std::nullopt;
  return static_cast<std::size_t>(Value);
}

// Splits the header block (without the blank line) into the request line and headers.
bool ParseHead(const std::string& Head, THttpRequest& Request) {
  std::size_t LineStart = 0;
  bool First = true;
  while (LineStart < Head.size()) {
    std::size_t LineEnd = Head.find("\r\n", LineStart);
    if (LineEnd == std::string::npos) LineEnd = Head.size();
    const std::string Line = Head.substr(LineStart, LineEnd - LineStart);
    LineStart = LineEnd + 2;
    if (First) {
      const std::size_t MethodEnd = Line.find(' ');
      const std::size_t TargetEnd = Line.find(' ', MethodEnd == std::string::npos ? 0 : MethodEnd + 1);
      if (MethodEnd == std::string::npos || TargetEnd == std::string::npos) return false;
      Request.Method = Line.substr(0, MethodEnd);
      Request.Target = Line.substr(MethodEnd + 1, TargetEnd - MethodEnd - 1);
      First = false;
      continue;
    }
    const std::size_t Colon = Line.find(':');
    if (Colon == std::string::npos) return false;
    Request.Headers[AsciiLower(Trim(Line.substr(0, Colon)))] = Trim(Line.substr(Colon + 1));
  }
  return !First;
}
}  // namespace

LoopbackHttpServer::LoopbackHttpServer(Handler OnRequest) : LoopbackHttpServer(std::move(OnRequest), std::nullopt) {}

LoopbackHttpServer::LoopbackHttpServer(Handler OnRequest, std::optional<THttpFlood> Flood)
    : OnRequest(std::move(OnRequest)), Flood(std::move(Flood)) {
  int Wake[2];
  if (::pipe2(Wake, O_CLOEXEC) != 0) throw std::runtime_error("cannot create the server's wake pipe");
  WakeRead = Wake[0];
  WakeWrite = Wake[1];
  Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = 0;
  socklen_t Length = sizeof(Address);
  if (Listener < 0 || ::bind(Listener, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0 ||
      ::listen(Listener, 64) != 0 ||
      ::getsockname(Listener, reinterpret_cast<sockaddr*>(&Address), &Length) != 0) {
    const std::string Reason = std::strerror(errno);
    if (Listener >= 0) ::close(Listener);
    ::close(WakeRead);
    ::close(WakeWrite);
    throw std::runtime_error("cannot listen on 127.0.0.1: " + Reason);
  }
  ListenPort = ntohs(Address.sin_port);
  Worker = std::thread([this] { Serve(); });
}

LoopbackHttpServer::LoopbackHttpServer(THttpFlood Flood) : LoopbackHttpServer(nullptr, std::move(Flood)) {}

LoopbackHttpServer::~LoopbackHttpServer() {
  const char Stop = 's';
  (void)!::write(WakeWrite, &Stop, 1);
  Worker.join();
  for (std::thread& Connection : Connections) Connection.join();
  for (int Connection : Held) ::close(Connection);
  ::close(Listener);
  ::close(WakeRead);
  ::close(WakeWrite);
}

std::string LoopbackHttpServer::Url(const std::string& Path) const {
  return "http://127.0.0.1:" + std::to_string(ListenPort) + Path;
}

bool LoopbackHttpServer::WaitReadable(int Descriptor) {
  for (;;) {
    pollfd Watched[2] = {{Descriptor, POLLIN, 0}, {WakeRead, POLLIN, 0}};
    const int Ready = ::poll(Watched, 2, -1);
    if (Ready < 0 && errno == EINTR) continue;
    if (Ready < 0 || Watched[1].revents != 0) return false;
    if (Watched[0].revents != 0) return true;
  }
}

void LoopbackHttpServer::Serve() {
  while (WaitReadable(Listener)) {
    const int Connection = ::accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (Connection >= 0) Connections.emplace_back([this, Connection] { Answer(Connection); });
  }
}

void LoopbackHttpServer::Answer(int Connection) {
  const std::optional<THttpRequest> Request = ReadRequest(Connection);
  if (!Request) {
    ::close(Connection);
    return;
  }
  ++Requests;
  if (Flood) {
    SendFlood(Connection);
    ::close(Connection);
    return;
  }
  const int Now = ++AtOnce;
  for (int Peak = PeakAtOnce; Now > Peak && !PeakAtOnce.compare_exchange_weak(Peak, Now);) {
  }
  const std::optional<THttpResponse> Response = OnRequest(*Request);
  --AtOnce;
  if (!Response) {
    const std::lock_guard Guard(HeldLock);
    Held.push_back(Connection);
    return;
  }
  std::string Reply = "HTTP/1.1 " + std::to_string(Response->Status) + " " +
                      ReasonPhrase(Response->Status) + "\r\nContent-Type: " + Response->ContentType +
                      "\r\nContent-Length: " + std::to_string(Response->Body.size()) + "\r\n";
  for (const auto& [Name, Value] : Response->Headers) Reply += Name + ": " + Value + "\r\n";
  Reply += "Connection: close\r\n\r\n";
  Reply += Response->Body;
  SendAll(Connection, Reply);
  ::shutdown(Connection, SHUT_WR);
  ::close(Connection);
}

void LoopbackHttpServer::SendFlood(int Connection) {
  if (!SendUntilStopped(Connection, Flood->Head)) return;
  for (;;) {
    if (Flood->Pause.count() > 0) {
      pollfd Wake = {WakeRead, POLLIN, 0};
      if (::poll(&Wake, 1, static_cast<int>(Flood->Pause.count())) != 0) return;
    }
    if (!SendUntilStopped(Connection, Flood->Repeated)) return;
  }
}

bool LoopbackHttpServer::SendUntilStopped(int Connection, const std::string& Data) {
  std::size_t Done = 0;
  while (Done < Data.size()) {
    pollfd Watched[2] = {{Connection, POLLOUT, 0}, {WakeRead, POLLIN, 0}};
    const int Ready = ::poll(Watched, 2, -1);
    if (Ready < 0 && errno == EINTR) continue;
    if (Ready < 0 || Watched[1].revents != 0 || (Watched[0].revents & (POLLERR | POLLHUP)) != 0) return false;
    const ssize_t Sent = ::send(Connection, Data.data() + Done, Data.size() - Done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (Sent < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (Sent <= 0) return false;
    Done += static_cast<std::size_t>(Sent);
  }
  return true;
}

bool LoopbackHttpServer::ReadMore(int Connection, std::string& Buffer) {
  if (!WaitReadable(Connection)) return false;
  char Chunk[16 * 1024];
  ssize_t Count;
  do {
    Count = ::recv(Connection, Chunk, sizeof(Chunk), 0);
  } while (Count < 0 && errno == EINTR);
  if (Count <= 0) return false;
  Buffer.append(Chunk, static_cast<std::size_t>(Count));
  return true;
}

std::optional<THttpRequest> LoopbackHttpServer::ReadRequest(int Connection) {
  std::string Buffer;
  std::size_t HeadEnd;
  while ((HeadEnd = Buffer.find("\r\n\r\n")) == std::string::npos) {
    if (Buffer.size() > MaxHeaderBytes || !ReadMore(Connection, Buffer)) return std::nullopt;
  }
  THttpRequest Request;
  if (!ParseHead(Buffer.substr(0, HeadEnd), Request)) return std::nullopt;
  Buffer.erase(0, HeadEnd + 4);
  const auto Expect = Request.Headers.find("expect");
  if (Expect != Request.Headers.end() && SameTextAscii(Expect->second, "100-continue"))
    SendAll(Connection, "HTTP/1.1 100 Continue\r\n\r\n");
  if (!ReadBody(Connection, Buffer, Request)) return std::nullopt;
  return Request;
}

bool LoopbackHttpServer::ReadBody(int Connection, std::string& Buffer, THttpRequest& Request) {
  const auto Encoding = Request.Headers.find("transfer-encoding");
  if (Encoding != Request.Headers.end() && SameTextAscii(Encoding->second, "chunked")) {
    for (;;) {
      std::size_t LineEnd;
      while ((LineEnd = Buffer.find("\r\n")) == std::string::npos)
        if (!ReadMore(Connection, Buffer)) return false;
      const std::optional<std::size_t> Size = ParseSize(Buffer.substr(0, LineEnd), 16);
      if (!Size) return false;
      Buffer.erase(0, LineEnd + 2);
      if (*Size == 0) return true;  // trailers, if any, are not needed
      while (Buffer.size() < *Size + 2)
        if (!ReadMore(Connection, Buffer)) return false;
      Request.Body.append(Buffer, 0, *Size);
      Buffer.erase(0, *Size + 2);
    }
  }
  const auto Length = Request.Headers.find("content-length");
  if (Length == Request.Headers.end()) return true;
  const std::optional<std::size_t> Size = ParseSize(Length->second, 10);
  if (!Size) return false;
  while (Buffer.size() < *Size)
    if (!ReadMore(Connection, Buffer)) return false;
  Request.Body = Buffer.substr(0, *Size);
  return true;
}
