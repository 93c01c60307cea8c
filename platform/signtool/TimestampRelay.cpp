#include "TimestampRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>

#include "common/HttpResponseReader.h"
#include "common/RetryAfter.h"

namespace {
constexpr std::size_t MaxHeadBytes = 64 * 1024;
constexpr std::size_t MaxBodyBytes = 4 * 1024 * 1024;
constexpr std::size_t MaxAnswerBytes = MaxBodyBytes + 64 * 1024;
// osslsigncode is stopped at its own deadline; this only keeps a stuck peer from holding on.
constexpr std::chrono::seconds ConnectionLimit{120};

using TClock = std::chrono::steady_clock;

class TSocket {
 public:
  explicit TSocket(int Fd = -1) : Fd(Fd) {}
  ~TSocket() {
    if (Fd >= 0) ::close(Fd);
  }
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;
  int Fd;
};

// Waits until Fd is ready for Events; false when the relay stops or the deadline passes.
bool Wait(int Fd, short Events, int Wake, TClock::time_point Deadline) {
  for (;;) {
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
    if (Left <= 0) return false;
    pollfd Watched[2] = {{Fd, Events, 0}, {Wake, POLLIN, 0}};
    const int Ready = ::poll(Watched, 2, static_cast<int>(Left));
    if (Ready < 0 && errno == EINTR) continue;
    if (Ready <= 0 || Watched[1].revents != 0) return false;
    return true;
  }
}

bool SendAll(int Fd, std::string_view Data, int Wake, TClock::time_point Deadline) {
  while (!Data.empty()) {
    if (!Wait(Fd, POLLOUT, Wake, Deadline)) return false;
    const ssize_t Sent = ::send(Fd, Data.data(), Data.size(), MSG_NOSIGNAL);
    if (Sent < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (Sent <= 0) return false;
    Data.remove_prefix(static_cast<std::size_t>(Sent));
  }
  return true;
}

// Appends what arrives; false at the end of the stream, on an error or when Limit is reached.
bool ReceiveMore(int Fd, std::string& Buffer, std::size_t Limit, int Wake, TClock::time_point Deadline) {
  if (Buffer.size() >= Limit || !Wait(Fd, POLLIN, Wake, Deadline)) return false;
  char Chunk[16 * 1024];
  ssize_t Count;
  do {
    Count = ::recv(Fd, Chunk, sizeof Chunk, 0);
  } while (Count < 0 && errno == EINTR);
  if (Count <= 0) return false;
  Buffer.append(Chunk, static_cast<std::size_t>(Count));
  return true;
}

struct TRequest {
  std::string Host, Port, Forward;  // Forward: the request as sent on to the server
};

struct TTarget {
  std::string Host, Port, Path;
};

// "http://host[:port][/path]" taken apart; the host in lower case, the port 80 when not given.
std::optional<TTarget> TargetOf(std::string_view Url) {
  constexpr std::string_view Scheme = "http://";
  if (Url.size() < Scheme.size()) return std::nullopt;
  for (std::size_t I = 0; I < Scheme.size(); ++I)
    if ((Url[I] | 0x20) != Scheme[I]) return std::nullopt;
  Url.remove_prefix(Scheme.size());
  const std::size_t PathStart = Url.find_first_of("/?#");
  const std::string_view Authority = Url.substr(0, PathStart);
  TTarget Target;
  Target.Path = PathStart == std::string_view::npos ? "/" : std::string(Url.substr(PathStart));
  if (Target.Path.front() != '/') Target.Path.insert(0, 1, '/');
  const std::size_t Colon = Authority.rfind(':');
  const bool HasPort = Colon != std::string_view::npos && Authority.find(']', Colon) == std::string_view::npos;
  Target.Host = std::string(Authority.substr(0, HasPort ? Colon : Authority.size()));
  Target.Port = HasPort ? std::string(Authority.substr(Colon + 1)) : "80";
  if (Target.Host.size() > 2 && Target.Host.front() == '[' && Target.Host.back() == ']')
    Target.Host = Target.Host.substr(1, Target.Host.size() - 2);
  for (char& C : Target.Host)
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
  if (Target.Host.empty() || Target.Port.empty()) return std::nullopt;
  return Target;
}

bool SameNameAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (std::size_t I = 0; I < A.size(); ++I)
    if ((A[I] | 0x20) != (B[I] | 0x20)) return false;
  return true;
}

// "POST http://host[:port]/path HTTP/1.0" and its headers, made into a request for the server
// itself that closes the connection after the answer. Body: the bytes after the head.
std::optional<TRequest> ForwardedRequest(std::string_view Head, std::size_t& BodyLength) {
  std::size_t LineEnd = Head.find("\r\n");
  const std::string_view First = Head.substr(0, LineEnd);
  const std::size_t MethodEnd = First.find(' ');
  const std::size_t TargetEnd = First.rfind(' ');
  if (MethodEnd == std::string_view::npos || TargetEnd <= MethodEnd) return std::nullopt;
  const std::string_view Method = First.substr(0, MethodEnd);
  const std::optional<TTarget> Target = TargetOf(First.substr(MethodEnd + 1, TargetEnd - MethodEnd - 1));
  if (!Target) return std::nullopt;
  TRequest Request;
  Request.Host = Target->Host;
  Request.Port = Target->Port;
  Request.Forward = std::string(Method) + " " + Target->Path + " HTTP/1.0\r\n";
  BodyLength = 0;
  while (LineEnd != std::string_view::npos) {
    const std::size_t Start = LineEnd + 2;
    LineEnd = Head.find("\r\n", Start);
    const std::string_view Line = Head.substr(Start, LineEnd == std::string_view::npos ? std::string_view::npos : LineEnd - Start);
    const std::size_t NameEnd = Line.find(':');
    if (NameEnd == std::string_view::npos) continue;
    const std::string_view Name = Line.substr(0, NameEnd);
    if (SameNameAscii(Name, "connection") || SameNameAscii(Name, "proxy-connection") ||
        SameNameAscii(Name, "keep-alive"))
      continue;
    if (SameNameAscii(Name, "content-length")) {
      std::string_view Value = Line.substr(NameEnd + 1);
      while (!Value.empty() && Value.front() == ' ') Value.remove_prefix(1);
      if (Value.empty() || Value.size() > 9) return std::nullopt;
      for (char C : Value) {
        if (C < '0' || C > '9') return std::nullopt;
        BodyLength = BodyLength * 10 + static_cast<std::size_t>(C - '0');
      }
    }
    Request.Forward.append(Line).append("\r\n");
  }
  Request.Forward += "Connection: close\r\n\r\n";
  return Request;
}

int Connect(const TRequest& Request, int Wake, TClock::time_point Deadline) {
  addrinfo Hints{};
  Hints.ai_socktype = SOCK_STREAM;
  addrinfo* Found = nullptr;
  if (::getaddrinfo(Request.Host.c_str(), Request.Port.c_str(), &Hints, &Found) != 0) return -1;
  int Result = -1;
  for (addrinfo* Address = Found; Address != nullptr && Result < 0; Address = Address->ai_next) {
    const int Fd = ::socket(Address->ai_family, Address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, Address->ai_protocol);
    if (Fd < 0) continue;
    int Error = 0;
    socklen_t Length = sizeof Error;
    const bool Connected =
        ::connect(Fd, Address->ai_addr, Address->ai_addrlen) == 0 ||
        (errno == EINPROGRESS && Wait(Fd, POLLOUT, Wake, Deadline) &&
         ::getsockopt(Fd, SOL_SOCKET, SO_ERROR, &Error, &Length) == 0 && Error == 0);
    if (Connected) {
      Result = Fd;
    } else {
      ::close(Fd);
    }
  }
  ::freeaddrinfo(Found);
  return Result;
}
}  // namespace

TTimestampRelay::TTimestampRelay(const std::vector<std::string>& ServerUrls) {
  for (const std::string& Server : ServerUrls)
    if (const std::optional<TTarget> Target = TargetOf(Server)) Servers.push_back(Target->Host + ":" + Target->Port);
  int Wake[2];
  if (::pipe2(Wake, O_CLOEXEC) != 0) return;
  WakeRead = Wake[0];
  WakeWrite = Wake[1];
  Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t Length = sizeof Address;
  if (Listener < 0 || ::bind(Listener, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0 ||
      ::listen(Listener, 8) != 0 || ::getsockname(Listener, reinterpret_cast<sockaddr*>(&Address), &Length) != 0)
    return;
  Url = "http://127.0.0.1:" + std::to_string(ntohs(Address.sin_port));
  Worker = std::thread([this] { Serve(); });
}

TTimestampRelay::~TTimestampRelay() {
  if (Worker.joinable()) {
    const char Stop = 's';
    (void)!::write(WakeWrite, &Stop, 1);
    Worker.join();
  }
  for (int Fd : {Listener, WakeRead, WakeWrite})
    if (Fd >= 0) ::close(Fd);
}

TTimestampRelay::TSeen TTimestampRelay::TakeSeen() {
  const std::lock_guard Guard(Lock);
  ++CurrentRound;
  return std::exchange(Seen, TSeen{});
}

void TTimestampRelay::Record(unsigned Round, const TSeen& What) {
  const std::lock_guard Guard(Lock);
  if (Round == CurrentRound) Seen = What;
}

void TTimestampRelay::Serve() {
  for (;;) {
    pollfd Watched[2] = {{Listener, POLLIN, 0}, {WakeRead, POLLIN, 0}};
    const int Ready = ::poll(Watched, 2, -1);
    if (Ready < 0 && errno == EINTR) continue;
    if (Ready < 0 || Watched[1].revents != 0) break;
    const int Client = ::accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (Client < 0) continue;
    unsigned Round;
    {
      const std::lock_guard Guard(Lock);
      Round = CurrentRound;
    }
    // A connection of its own thread: one left waiting on a silent server must not hold up the
    // next try.
    Connections.emplace_back([this, Client, Round] { Pass(Client, Round); });
  }
  for (std::thread& Connection : Connections) Connection.join();
}

void TTimestampRelay::Pass(int ClientFd, unsigned Round) {
  const TSocket Client(ClientFd);
  const TClock::time_point Deadline = TClock::now() + ConnectionLimit;
  std::string Incoming;
  std::size_t HeadEnd;
  while ((HeadEnd = Incoming.find("\r\n\r\n")) == std::string::npos)
    if (!ReceiveMore(Client.Fd, Incoming, MaxHeadBytes, WakeRead, Deadline)) return;
  std::size_t BodyLength = 0;
  const std::optional<TRequest> Request = ForwardedRequest(std::string_view(Incoming).substr(0, HeadEnd), BodyLength);
  if (!Request || BodyLength > MaxBodyBytes) return;
  if (std::find(Servers.begin(), Servers.end(), Request->Host + ":" + Request->Port) == Servers.end()) {
    SendAll(Client.Fd, "HTTP/1.0 403 Forbidden\r\nContent-Length: 0\r\n\r\n", WakeRead, Deadline);
    return;
  }
  const std::size_t Wanted = HeadEnd + 4 + BodyLength;
  while (Incoming.size() < Wanted)
    if (!ReceiveMore(Client.Fd, Incoming, Wanted, WakeRead, Deadline)) return;

  Record(Round, {true, std::nullopt});
  const TSocket Server(Connect(*Request, WakeRead, Deadline));
  std::string Answer;
  THttpResponseReader Reader(MaxBodyBytes);
  if (Server.Fd >= 0 && SendAll(Server.Fd, Request->Forward, WakeRead, Deadline) &&
      SendAll(Server.Fd, std::string_view(Incoming).substr(HeadEnd + 4, BodyLength), WakeRead, Deadline)) {
    std::size_t Read = 0;
    while (Reader.State() == THttpResponseReader::TState::More &&
           ReceiveMore(Server.Fd, Answer, MaxAnswerBytes, WakeRead, Deadline)) {
      Reader.Feed(std::string_view(Answer).substr(Read));
      Read = Answer.size();
    }
    // The request asked the server to close the connection after its answer.
    Reader.End();
  }
  std::optional<TAnswer> Parsed;
  if (Reader.State() == THttpResponseReader::TState::Done) {
    Parsed = TAnswer{Reader.Status(), std::nullopt};
    if (const std::optional<std::string> Wait = Reader.Field("Retry-After"))
      Parsed->RetryAfter = ParseRetryAfter(*Wait, std::time(nullptr));
  }
  Record(Round, {true, Parsed});
  if (!Parsed) {
    SendAll(Client.Fd, "HTTP/1.0 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n", WakeRead, Deadline);
    return;
  }
  SendAll(Client.Fd, Answer, WakeRead, Deadline);
}
