#include "keys/AgentKey.h"

#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "authenticode/InterruptibleWait.h"
#include "keys/KeyAgentProtocol.h"

namespace {
using TClock = TSteadyClock;

const std::string SessionEnded = "The window's signing session has ended.";
const std::string SessionSilent = "The window's signing session did not answer in time.";
const std::string SessionGarbled = "The window's signing session sent an answer that cannot be read.";

// Waits until Socket is ready for Events; the message of SessionSilent when Deadline passes first,
// an empty one when the run is interrupted first.
std::optional<std::string> WaitFor(int Socket, short Events, TClock::time_point Deadline, int Interruption) {
  while (true) {
    const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - TClock::now());
    if (Left.count() <= 0) return SessionSilent;
    std::array<pollfd, 2> Watched{{{Socket, Events, 0}, {Interruption, POLLIN, 0}}};
    const int Ready = ::poll(Watched.data(), Interruption >= 0 ? 2 : 1,
                             static_cast<int>(std::min<long long>(Left.count(), 60000)));
    if (IsInterrupted(Interruption)) return std::string();
    if (Ready > 0) return std::nullopt;
    if (Ready < 0 && errno != EINTR) return std::nullopt;  // the read or write that follows reports it
  }
}

// Empty when all of Bytes went out, else why not (an empty message: interrupted).
std::optional<std::string> SendAll(int Socket, std::span<const std::uint8_t> Bytes, TClock::time_point Deadline,
                                   int Interruption) {
  while (!Bytes.empty()) {
    const ssize_t Sent = ::send(Socket, Bytes.data(), Bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (Sent > 0) {
      Bytes = Bytes.subspan(static_cast<std::size_t>(Sent));
      continue;
    }
    if (Sent < 0 && errno == EINTR) continue;
    if (Sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (std::optional<std::string> Failed = WaitFor(Socket, POLLOUT, Deadline, Interruption)) return Failed;
      continue;
    }
    return SessionEnded;
  }
  return std::nullopt;
}

std::optional<std::string> ReceiveAll(int Socket, std::span<std::uint8_t> Bytes, TClock::time_point Deadline,
                                      int Interruption) {
  while (!Bytes.empty()) {
    const ssize_t Received = ::recv(Socket, Bytes.data(), Bytes.size(), MSG_DONTWAIT);
    if (Received > 0) {
      Bytes = Bytes.subspan(static_cast<std::size_t>(Received));
      continue;
    }
    if (Received < 0 && errno == EINTR) continue;
    if (Received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (std::optional<std::string> Failed = WaitFor(Socket, POLLIN, Deadline, Interruption)) return Failed;
      continue;
    }
    return SessionEnded;
  }
  return std::nullopt;
}

bool AgentIsThisUser(int Socket) {
  ucred Credentials{};
  socklen_t Length = sizeof Credentials;
  return ::getsockopt(Socket, SOL_SOCKET, SO_PEERCRED, &Credentials, &Length) == 0 &&
         Length == sizeof Credentials && Credentials.uid == ::geteuid();
}
}  // namespace

TAgentKey::TAgentKey(TDescriptor Socket, std::chrono::milliseconds ReplyTimeout)
    : Socket(std::move(Socket)), ReplyTimeout(ReplyTimeout) {}

TAgentKey::TConnectResult TAgentKey::Connect(const std::string& SocketPath, std::chrono::milliseconds ReplyTimeout) {
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  if (SocketPath.empty() || SocketPath.size() >= sizeof Address.sun_path || SocketPath.find('\0') != std::string::npos)
    return {nullptr, "The window's signing session has no usable socket path: " + SocketPath};
  SocketPath.copy(Address.sun_path, sizeof Address.sun_path - 1);

  TDescriptor Socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!Socket.IsOpen()) return {nullptr, std::string("No socket can be opened: ") + ::strerror(errno)};
  // A connection waits for the agent to accept it no longer than for an answer.
  const auto Seconds = std::chrono::duration_cast<std::chrono::seconds>(ReplyTimeout);
  const timeval Wait{static_cast<time_t>(Seconds.count()),
                     static_cast<suseconds_t>((ReplyTimeout - Seconds) / std::chrono::microseconds(1))};
  ::setsockopt(Socket.Get(), SOL_SOCKET, SO_SNDTIMEO, &Wait, sizeof Wait);
  if (::connect(Socket.Get(), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
    if (errno == ENOENT || errno == ECONNREFUSED) return {nullptr, SessionEnded};
    if (errno == EAGAIN) return {nullptr, SessionSilent};
    return {nullptr, std::string("The window's signing session cannot be reached: ") + ::strerror(errno)};
  }
  if (!AgentIsThisUser(Socket.Get()))
    return {nullptr, "The signing session at " + SocketPath + " belongs to another user."};
  ::fcntl(Socket.Get(), F_SETFL, ::fcntl(Socket.Get(), F_GETFL) | O_NONBLOCK);

  std::unique_ptr<TAgentKey> Key(new TAgentKey(std::move(Socket), ReplyTimeout));
  std::string Error;
  const std::optional<std::vector<std::uint8_t>> Reply =
      Key->Exchange(CertificatesRequest(), Error, TClock::now() + ReplyTimeout);
  if (!Reply) return {nullptr, Error};
  const std::optional<TAgentCertificates> Certificates = ParseCertificatesReply(*Reply);
  if (!Certificates) return {nullptr, SessionGarbled};
  if (!Certificates->Error.empty()) return {nullptr, Certificates->Error};
  for (const std::vector<std::uint8_t>& Der : Certificates->Der) {
    const unsigned char* Next = Der.data();
    TCertificate Certificate(d2i_X509(nullptr, &Next, static_cast<long>(Der.size())));
    if (!Certificate || Next != Der.data() + Der.size()) return {nullptr, SessionGarbled};
    Key->Certificates.push_back(std::move(Certificate));
  }
  return {std::move(Key), {}};
}

std::vector<X509*> TAgentKey::Chain() const {
  std::vector<X509*> Result;
  for (std::size_t Index = 1; Index < Certificates.size(); ++Index) Result.push_back(Certificates[Index].get());
  return Result;
}

TKeySignature TAgentKey::SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) {
  const std::lock_guard Guard(Lock);
  if (!Broken.empty()) return {{}, Broken};
  const std::optional<std::vector<std::uint8_t>> Request = SignRequest(Digest, Md);
  if (!Request) return {{}, "The window's signing session cannot sign with this digest algorithm."};
  std::string Error;
  const std::optional<std::vector<std::uint8_t>> Reply = Exchange(*Request, Error, TClock::now() + ReplyTimeout);
  if (!Reply) return {{}, Error};
  std::optional<TKeySignature> Signature = ParseSignReply(*Reply);
  if (!Signature) {
    Broken = SessionGarbled;
    Socket.Close();
    return {{}, Broken};
  }
  return std::move(*Signature);
}

std::optional<std::vector<std::uint8_t>> TAgentKey::Exchange(std::span<const std::uint8_t> Request,
                                                             std::string& Error, TClock::time_point Deadline,
                                                             int Interruption) {
  std::array<std::uint8_t, AgentFrameHeaderSize> Header{};
  std::vector<std::uint8_t> Body;
  std::optional<std::string> Failed = SendAll(Socket.Get(), AgentFrame(Request), Deadline, Interruption);
  if (!Failed) Failed = ReceiveAll(Socket.Get(), Header, Deadline, Interruption);
  if (!Failed) {
    const std::optional<std::uint32_t> Length = AgentFrameLength(Header, MaxAgentReplySize);
    if (Length) {
      Body.resize(*Length);
      Failed = ReceiveAll(Socket.Get(), Body, Deadline, Interruption);
    } else {
      Failed = SessionGarbled;
    }
  }
  if (!Failed) return Body;
  Error = *Failed;
  // A reply that came late or not at all would be taken for the next request's.
  Broken = Error.empty() ? "The run was interrupted." : Error;
  Socket.Close();
  return std::nullopt;
}

THttpAnswer TAgentKey::CallHttp(const THttpCall& Call, TClock::time_point Deadline, int Interruption) {
  using TEnd = THttpAnswer::TEnd;
  constexpr auto Unanswered = &THttpAnswer::Unanswered;
  const std::lock_guard Guard(Lock);
  if (!Broken.empty()) return Unanswered(TEnd::Failed, Broken);
  const auto Time = std::chrono::ceil<std::chrono::milliseconds>(Deadline - TClock::now());
  if (Time.count() <= 0) return Unanswered(TEnd::TimedOut, "no time was left");
  const std::optional<std::vector<std::uint8_t>> Request = HttpRequest(Call, Time);
  if (!Request) return Unanswered(TEnd::Failed, "the request is too large for the window's signing session");
  // The agent ends the call at Deadline; its answer then still has to come back.
  constexpr std::chrono::seconds ReplyMargin(5);
  std::string Error;
  const std::optional<std::vector<std::uint8_t>> Reply = Exchange(*Request, Error, Deadline + ReplyMargin, Interruption);
  if (!Reply) return Error.empty() ? Unanswered(TEnd::Interrupted, "interrupted") : Unanswered(TEnd::Failed, Error);
  std::optional<THttpAnswer> Answer = ParseHttpReply(*Reply);
  if (!Answer) {
    Broken = SessionGarbled;
    Socket.Close();
    return Unanswered(TEnd::Failed, Broken);
  }
  return std::move(*Answer);
}
