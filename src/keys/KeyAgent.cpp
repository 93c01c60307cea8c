#include "keys/KeyAgent.h"

#include <openssl/rand.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <cstdio>
#include <vector>

#include "keys/KeyAgentProtocol.h"

namespace {
// Far more than the windows and tools of one user ever open at once; more are closed unanswered,
// so that no peer can take every descriptor of this process.
constexpr std::size_t MaxConnections = 256;
// Signatures made at once for a key that signs concurrently, and HTTP calls made at once: more
// than a batch runs at once.
constexpr int SigningWorkers = 16;
constexpr int HttpCallsAtOnce = 16;

struct TConnection {
  TDescriptor Socket;
  std::uint64_t Id = 0;
  std::vector<std::uint8_t> In;  // the part of a request read so far
  std::vector<std::uint8_t> Out;  // the part of a reply not written yet
  bool Closed = false;
  bool Waiting = false;  // for a worker's reply
};

std::string Failure(const std::string& What) { return What + ": " + ::strerror(errno); }

std::optional<std::string> RandomSocketName() {
  std::array<unsigned char, 16> Random{};
  if (RAND_bytes(Random.data(), static_cast<int>(Random.size())) != 1) return std::nullopt;
  std::string Name = "quillory-key-";
  for (const unsigned char Byte : Random) {
    char Hex[3];
    std::snprintf(Hex, sizeof Hex, "%02x", Byte);
    Name += Hex;
  }
  return Name;
}

bool FromThisUser(int Socket) {
  ucred Credentials{};
  socklen_t Length = sizeof Credentials;
  return ::getsockopt(Socket, SOL_SOCKET, SO_PEERCRED, &Credentials, &Length) == 0 &&
         Length == sizeof Credentials && Credentials.uid == ::geteuid();
}

std::vector<std::uint8_t> Answer(TSigningKey& Key, const TAgentRequest& Request) {
  if (Request.Kind == TAgentRequestKind::Sign) return SignReply(Key.SignDigest(Request.Digest, Request.Md));
  std::optional<std::vector<std::uint8_t>> Certificates = CertificatesReply(Key.Certificate(), Key.Chain());
  return Certificates ? std::move(*Certificates) : FailureReply("The key's certificates cannot be encoded.");
}

void WritePending(TConnection& Connection) {
  while (!Connection.Out.empty()) {
    const ssize_t Written =
        ::send(Connection.Socket.Get(), Connection.Out.data(), Connection.Out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (Written < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) Connection.Closed = true;
      return;
    }
    Connection.Out.erase(Connection.Out.begin(), Connection.Out.begin() + Written);
  }
}

// The length of the request under way, once its header is in; nothing before, or for a header no
// request has.
std::optional<std::uint32_t> RequestLength(const TConnection& Connection) {
  if (Connection.In.size() < AgentFrameHeaderSize) return std::nullopt;
  return AgentFrameLength(std::span(Connection.In).first(AgentFrameHeaderSize), MaxAgentRequestSize);
}

// Reads no further than the end of the request under way; a complete one is returned.
std::optional<TAgentRequest> ReadRequest(TConnection& Connection) {
  const std::size_t Had = Connection.In.size();
  const std::size_t Wanted = AgentFrameHeaderSize + RequestLength(Connection).value_or(0);
  Connection.In.resize(Wanted);
  const ssize_t Read = ::recv(Connection.Socket.Get(), Connection.In.data() + Had, Wanted - Had, MSG_DONTWAIT);
  if (Read <= 0) {
    Connection.In.resize(Had);
    if (Read == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) Connection.Closed = true;
    return std::nullopt;
  }
  Connection.In.resize(Had + static_cast<std::size_t>(Read));
  if (Connection.In.size() < AgentFrameHeaderSize) return std::nullopt;
  const std::optional<std::uint32_t> Length = RequestLength(Connection);
  if (!Length) {
    Connection.Closed = true;
    return std::nullopt;
  }
  if (Connection.In.size() < AgentFrameHeaderSize + *Length) return std::nullopt;

  std::optional<TAgentRequest> Request = ParseAgentRequest(std::span(Connection.In).subspan(AgentFrameHeaderSize));
  Connection.In.clear();
  if (!Request) Connection.Closed = true;
  return Request;
}

void Reply(TConnection& Connection, const std::vector<std::uint8_t>& Answer) {
  Connection.Out = AgentFrame(Answer);
  Connection.Waiting = false;
  WritePending(Connection);
}
}  // namespace

TKeyAgent::TStartResult TKeyAgent::Start(std::unique_ptr<TSigningKey> Key) {
  if (!Key) return {nullptr, "There is no key to lend."};
  const std::optional<std::string> Name = RandomSocketName();
  if (!Name) return {nullptr, "No random name can be made for the key's socket."};
  TPrivateFolder Folder = OpenPrivateFolder(Name->size());
  if (Folder.Path.empty()) return {nullptr, Folder.Error};
  const std::string Path = (Folder.Path / *Name).native();
  auto RemoveFolder = [&Folder] {
    if (Folder.MadeForUs) ::rmdir(Folder.Path.c_str());
  };

  TDescriptor Listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  Path.copy(Address.sun_path, sizeof Address.sun_path - 1);
  if (!Listener.IsOpen() || ::bind(Listener.Get(), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
    std::string Error = Failure("The key's socket cannot be made in " + Folder.Path.native());
    RemoveFolder();
    return {nullptr, std::move(Error)};
  }
  TDescriptor Wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  TDescriptor Replied(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (::chmod(Path.c_str(), 0600) != 0 || ::listen(Listener.Get(), SOMAXCONN) != 0 || !Wake.IsOpen() ||
      !Replied.IsOpen()) {
    std::string Error = Failure("The key's socket cannot be opened");
    ::unlink(Path.c_str());
    RemoveFolder();
    return {nullptr, std::move(Error)};
  }
  const bool Concurrent = Key->SignsConcurrently();
  std::unique_ptr<TKeyAgent> Agent(new TKeyAgent(std::move(Key), std::move(Folder), Path, std::move(Listener),
                                                 std::move(Wake), std::move(Replied)));
  try {
    if (Concurrent)
      for (int Index = 0; Index < SigningWorkers; ++Index) Agent->Workers.emplace_back(&TKeyAgent::Work, Agent.get());
    Agent->Server = std::thread(&TKeyAgent::Serve, Agent.get());
  } catch (const std::system_error& Error) {
    return {nullptr, std::string("No thread can be started for the key's socket: ") + Error.what()};
  }
  return {std::move(Agent), {}};
}

TKeyAgent::TKeyAgent(std::unique_ptr<TSigningKey> Key, TPrivateFolder Folder, std::string Path, TDescriptor Listener,
                     TDescriptor Wake, TDescriptor Replied)
    : Key(std::move(Key)),
      Folder(std::move(Folder)),
      Path(std::move(Path)),
      Listener(std::move(Listener)),
      Wake(std::move(Wake)),
      Replied(std::move(Replied)) {}

TKeyAgent::~TKeyAgent() { Stop(); }

void TKeyAgent::Stop() {
  const std::lock_guard Guard(StopLock);
  if (!Listener.IsOpen()) return;
  // Removed first, so that no one connects while the rest closes.
  ::unlink(Path.c_str());
  const std::uint64_t One = 1;
  while (::write(Wake.Get(), &One, sizeof One) < 0 && errno == EINTR) {
  }
  if (Server.joinable()) Server.join();
  {
    const std::lock_guard Guard(JobLock);
    Stopping = true;
  }
  JobQueued.notify_all();
  HttpQueued.notify_all();
  for (std::thread& Worker : Workers) Worker.join();
  // Calls under way end at once: Wake, which they watch, stays readable.
  for (std::thread& Worker : HttpWorkers) Worker.join();
  Listener.Close();
  Wake.Close();
  Replied.Close();
  if (Folder.MadeForUs) ::rmdir(Folder.Path.c_str());
  Key.reset();
}

void TKeyAgent::Serve() {
  std::vector<TConnection> Connections;
  std::vector<pollfd> Watched;
  std::uint64_t LastId = 0;
  constexpr std::size_t First = 3;  // Watched's index of the first connection
  while (true) {
    Watched.clear();
    Watched.push_back({Wake.Get(), POLLIN, 0});
    Watched.push_back({Listener.Get(), POLLIN, 0});
    Watched.push_back({Replied.Get(), POLLIN, 0});
    for (const TConnection& Connection : Connections) {
      const short Events = Connection.Waiting ? 0 : Connection.Out.empty() ? POLLIN : POLLOUT;
      Watched.push_back({Connection.Socket.Get(), Events, 0});
    }
    if (::poll(Watched.data(), Watched.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (Watched[0].revents != 0) return;

    if (Watched[2].revents & POLLIN) {
      std::uint64_t Count = 0;
      (void)!::read(Replied.Get(), &Count, sizeof Count);
      std::vector<TReply> Made;
      {
        const std::lock_guard Guard(JobLock);
        Made.swap(Replies);
      }
      // A connection closed meanwhile has no one to read its reply.
      for (const TReply& Each : Made)
        for (TConnection& Connection : Connections)
          if (Connection.Id == Each.Connection) Reply(Connection, Each.Reply);
    }
    for (std::size_t Index = 0; Index < Connections.size(); ++Index) {
      TConnection& Connection = Connections[Index];
      const short Events = Watched[Index + First].revents;
      if (Events & (POLLERR | POLLNVAL) || (Connection.Waiting && Events & POLLHUP)) {
        Connection.Closed = true;
      } else if (Events & POLLOUT) {
        WritePending(Connection);
      } else if (Events & (POLLIN | POLLHUP)) {
        std::optional<TAgentRequest> Request = ReadRequest(Connection);
        if (!Request) continue;
        if (Request->Kind == TAgentRequestKind::Http) {
          Connection.Waiting = true;
          QueueHttpCall({Connection.Id, std::move(Request->Http), Request->HttpTime});
        } else if (Request->Kind == TAgentRequestKind::Sign && !Workers.empty()) {
          Connection.Waiting = true;
          {
            const std::lock_guard Guard(JobLock);
            Jobs.push_back({Connection.Id, std::move(Request->Digest), Request->Md});
          }
          JobQueued.notify_one();
        } else {
          Reply(Connection, Answer(*Key, *Request));
        }
      }
    }
    std::erase_if(Connections, [](const TConnection& Connection) { return Connection.Closed; });

    if (Watched[1].revents & POLLIN) {
      TDescriptor Accepted(::accept4(Listener.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (Accepted.IsOpen() && Connections.size() < MaxConnections && FromThisUser(Accepted.Get()))
        Connections.push_back({std::move(Accepted), ++LastId, {}, {}, false, false});
    }
  }
}

void TKeyAgent::Work() {
  for (;;) {
    std::unique_lock Guard(JobLock);
    JobQueued.wait(Guard, [this] { return Stopping || !Jobs.empty(); });
    if (Stopping) return;
    TSignJob Job = std::move(Jobs.front());
    Jobs.pop_front();
    Guard.unlock();
    PostReply(Job.Connection, SignReply(Key->SignDigest(Job.Digest, Job.Md)));
  }
}

void TKeyAgent::QueueHttpCall(THttpJob Job) {
  bool MoreWorkers = false;
  {
    const std::lock_guard Guard(JobLock);
    HttpJobs.push_back(std::move(Job));
    MoreWorkers = IdleHttpWorkers < HttpJobs.size() && HttpWorkers.size() < HttpCallsAtOnce;
  }
  if (MoreWorkers) {
    try {
      HttpWorkers.emplace_back(&TKeyAgent::Fetch, this);
    } catch (const std::system_error& Error) {
      if (HttpWorkers.empty()) {
        // No one would ever make the call: it fails now rather than when its client gives up.
        THttpAnswer Failed;
        Failed.Error = std::string("no thread can be started for the request: ") + Error.what();
        std::uint64_t Connection = 0;
        {
          const std::lock_guard Guard(JobLock);
          Connection = HttpJobs.back().Connection;
          HttpJobs.pop_back();
        }
        PostReply(Connection, HttpReply(Failed));
        return;
      }
    }
  }
  HttpQueued.notify_one();
}

void TKeyAgent::Fetch() {
  for (;;) {
    std::unique_lock Guard(JobLock);
    ++IdleHttpWorkers;
    HttpQueued.wait(Guard, [this] { return Stopping || !HttpJobs.empty(); });
    --IdleHttpWorkers;
    if (Stopping) return;
    THttpJob Job = std::move(HttpJobs.front());
    HttpJobs.pop_front();
    Guard.unlock();
    PostReply(Job.Connection, HttpReply(CallHttp(Job.Call, TSteadyClock::now() + Job.Time, Wake.Get())));
  }
}

void TKeyAgent::PostReply(std::uint64_t Connection, std::vector<std::uint8_t> Reply) {
  {
    const std::lock_guard Guard(JobLock);
    Replies.push_back({Connection, std::move(Reply)});
  }
  const std::uint64_t One = 1;
  while (::write(Replied.Get(), &One, sizeof One) < 0 && errno == EINTR) {
  }
}
