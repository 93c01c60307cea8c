// The key session a batch shares: a PFX key lent by a TKeyAgent over its socket, used by threads
// and by processes of their own (also of another user), and what clients see when it ends.
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "authenticode/FileSigning.h"
#include "common/Descriptor.h"
#include "keys/AgentKey.h"
#include "keys/KeyAgent.h"
#include "keys/KeyAgentProtocol.h"
#include "keys/PfxKey.h"
#include "support/AddressSpaceLimit.h"
#include "support/LoopbackHttpServer.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/ScopedEnvironment.h"
#include "support/TestPki.h"

namespace {
const std::string SessionEnded = "The window's signing session has ended.";

std::unique_ptr<TPfxKey> TestKey() {
  TPfxOpenResult Opened = OpenPfx(TestPki().PfxPath, TestPki().PfxPassword);
  if (!Opened.Key) throw std::runtime_error(Opened.Message);
  return std::move(Opened.Key);
}

// The digests agent_client_probe signs.
std::vector<std::uint8_t> ProbeDigest(int Index) {
  const std::string Text = "digest " + std::to_string(Index);
  std::vector<std::uint8_t> Digest(SHA256_DIGEST_LENGTH);
  SHA256(reinterpret_cast<const unsigned char*>(Text.data()), Text.size(), Digest.data());
  return Digest;
}

std::string Hex(const std::vector<std::uint8_t>& Bytes) {
  std::string Text;
  for (const std::uint8_t Byte : Bytes) Text += "0123456789abcdef"[Byte >> 4], Text += "0123456789abcdef"[Byte & 15];
  return Text;
}

// What agent_client_probe prints for Count digests signed by the test key.
std::string ExpectedProbeOutput(int Count) {
  const std::unique_ptr<TPfxKey> Key = TestKey();
  std::string Text;
  for (int Index = 0; Index < Count; ++Index) Text += Hex(Key->SignDigest(ProbeDigest(Index), EVP_sha256()).Value) + "\n";
  return Text;
}

std::string Probe() { return QCoreApplication::applicationDirPath().toStdString() + "/agent_client_probe"; }

// Passes every call to the real key, and records how many signatures were under way at once.
struct TSignCounts {
  std::atomic<int> Signed{0}, Underway{0}, MostUnderway{0};
};
class TCountingKey final : public TSigningKey {
 public:
  TCountingKey(std::unique_ptr<TSigningKey> Key, TSignCounts& Counts) : Key(std::move(Key)), Counts(Counts) {}
  X509* Certificate() const override { return Key->Certificate(); }
  std::vector<X509*> Chain() const override { return Key->Chain(); }
  TKeySignature SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) override {
    const int Now = ++Counts.Underway;
    for (int Most = Counts.MostUnderway; Now > Most && !Counts.MostUnderway.compare_exchange_weak(Most, Now);) {
    }
    // Gives other requests time to overlap this one, were the agent to let them.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    TKeySignature Signature = Key->SignDigest(Digest, Md);
    --Counts.Underway;
    ++Counts.Signed;
    return Signature;
  }

 private:
  std::unique_ptr<TSigningKey> Key;
  TSignCounts& Counts;
};

std::unique_ptr<TKeyAgent> StartAgent(std::unique_ptr<TSigningKey> Key) {
  TKeyAgent::TStartResult Started = TKeyAgent::Start(std::move(Key));
  if (!Started.Agent) throw std::runtime_error(Started.Error);
  return std::move(Started.Agent);
}

std::unique_ptr<TAgentKey> ConnectTo(const TKeyAgent& Agent) {
  TAgentKey::TConnectResult Connected = TAgentKey::Connect(Agent.SocketPath());
  if (!Connected.Key) throw std::runtime_error(Connected.Error);
  return std::move(Connected.Key);
}

TDescriptor RawConnection(const std::string& Path) {
  TDescriptor Socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  Path.copy(Address.sun_path, sizeof Address.sun_path - 1);
  if (::connect(Socket.Get(), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0)
    throw std::runtime_error("cannot connect to " + Path);
  return Socket;
}

// Reads until the peer closes; what it sent before.
std::string ReadUntilClosed(int Socket) {
  std::string Text;
  char Buffer[256];
  for (ssize_t Read; (Read = ::recv(Socket, Buffer, sizeof Buffer, 0)) > 0;) Text.append(Buffer, Read);
  return Text;
}

mode_t ModeOf(const std::string& Path) {
  struct stat Info {};
  if (::lstat(Path.c_str(), &Info) != 0) throw std::runtime_error("no " + Path);
  return Info.st_mode;
}
}  // namespace

TEST(KeyAgent, SignsAsTheKeyItselfDoes) {
  const std::unique_ptr<TPfxKey> Direct = TestKey();
  const std::unique_ptr<TKeyAgent> Agent = StartAgent(TestKey());
  const std::unique_ptr<TAgentKey> Lent = ConnectTo(*Agent);

  EXPECT_EQ(X509_cmp(Lent->Certificate(), Direct->Certificate()), 0);
  ASSERT_EQ(Lent->Chain().size(), Direct->Chain().size());
  for (std::size_t Index = 0; Index < Direct->Chain().size(); ++Index)
    EXPECT_EQ(X509_cmp(Lent->Chain()[Index], Direct->Chain()[Index]), 0);

  for (const EVP_MD* Md : {EVP_sha1(), EVP_sha256(), EVP_sha384(), EVP_sha512()}) {
    const std::vector<std::uint8_t> Digest(static_cast<std::size_t>(EVP_MD_get_size(Md)), 0x5a);
    const TKeySignature Signature = Lent->SignDigest(Digest, Md);
    EXPECT_EQ(Signature.Error, "") << EVP_MD_get0_name(Md);
    EXPECT_EQ(Signature.Value, Direct->SignDigest(Digest, Md).Value) << EVP_MD_get0_name(Md);
  }
  // Refused before anything is sent; the session stays usable.
  EXPECT_FALSE(Lent->SignDigest(std::vector<std::uint8_t>(16), EVP_md5()).Error.empty());
  EXPECT_FALSE(Lent->SignDigest(std::vector<std::uint8_t>(31), EVP_sha256()).Error.empty());

  // A whole file signed through the session is the file signed with the key.
  QTemporaryDir Folder;
  const std::string Ours = Folder.filePath("agent.exe").toStdString(), Theirs = Folder.filePath("direct.exe").toStdString();
  WriteBytes(Ours, BuildPe({}));
  WriteBytes(Theirs, BuildPe({}));
  TSignatureSettings Settings;
  Settings.Md = EVP_sha256();
  Settings.SigningTime = 1700000000;
  ASSERT_EQ(SignFile(Ours, Settings, *Lent).Message, "");
  ASSERT_EQ(SignFile(Theirs, Settings, *Direct).Message, "");
  EXPECT_EQ(ReadBytes(Ours), ReadBytes(Theirs));
}

TEST(KeyAgent, ServesManyClientsOneSignatureAtATime) {
  constexpr int Threads = 8, Processes = 2, Each = 25;
  TSignCounts Counts;
  const std::unique_ptr<TKeyAgent> Agent = StartAgent(std::make_unique<TCountingKey>(TestKey(), Counts));
  const std::string Expected = ExpectedProbeOutput(Each);

  std::vector<std::unique_ptr<QProcess>> Children;
  for (int Index = 0; Index < Processes; ++Index) {
    auto& Child = Children.emplace_back(std::make_unique<QProcess>());
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert(KeyAgentVariable, QString::fromStdString(Agent->SocketPath()));
    Child->setProcessEnvironment(Environment);
    Child->start(QString::fromStdString(Probe()), {QString::number(Each)});
  }
  std::vector<std::string> Outputs(Threads);
  std::vector<std::thread> Workers;
  for (int Index = 0; Index < Threads; ++Index)
    Workers.emplace_back([&, Index] {
      TAgentKey::TConnectResult Connected = TAgentKey::Connect(Agent->SocketPath());
      if (!Connected.Key) return;
      for (int Digest = 0; Digest < Each; ++Digest) {
        const TKeySignature Signature = Connected.Key->SignDigest(ProbeDigest(Digest), EVP_sha256());
        Outputs[Index] += (Signature.Value.empty() ? Signature.Error : Hex(Signature.Value)) + "\n";
      }
    });
  for (std::thread& Worker : Workers) Worker.join();
  for (const std::string& Output : Outputs) EXPECT_EQ(Output, Expected);
  for (auto& Child : Children) {
    ASSERT_TRUE(Child->waitForFinished(120000));
    EXPECT_EQ(Child->exitCode(), 0) << Child->readAllStandardError().toStdString();
    EXPECT_EQ(Child->readAllStandardOutput().toStdString(), Expected);
  }
  EXPECT_EQ(Counts.Signed, (Threads + Processes) * Each);
  EXPECT_EQ(Counts.MostUnderway, 1);
}

// A key in a service signs many digests at once, each waiting for the service: this one lets no
// signature finish before Together of them are under way, and fails those that wait in vain.
class TGatheringKey final : public TSigningKey {
 public:
  explicit TGatheringKey(int Together) : Key(TestKey()), Together(Together) {}
  X509* Certificate() const override { return Key->Certificate(); }
  std::vector<X509*> Chain() const override { return Key->Chain(); }
  bool SignsConcurrently() const override { return true; }
  TKeySignature SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) override {
    std::unique_lock Guard(Lock);
    ++Arrived;
    Gathered.notify_all();
    if (!Gathered.wait_for(Guard, std::chrono::seconds(60), [this] { return Arrived >= Together; }))
      return {{}, "signed alone"};
    Guard.unlock();
    return Key->SignDigest(Digest, Md);
  }

 private:
  std::unique_ptr<TSigningKey> Key;
  const int Together;
  std::mutex Lock;
  std::condition_variable Gathered;
  int Arrived = 0;
};

TEST(KeyAgent, AKeyThatSignsConcurrentlyIsAskedForSeveralSignaturesAtOnce) {
  constexpr int Clients = 6;
  const std::unique_ptr<TKeyAgent> Agent = StartAgent(std::make_unique<TGatheringKey>(Clients));
  const std::string Expected = ExpectedProbeOutput(1);
  std::vector<std::string> Outputs(Clients);
  std::vector<std::thread> Workers;
  for (int Index = 0; Index < Clients; ++Index)
    Workers.emplace_back([&, Index] {
      // Connecting reads the certificates, answered also while signatures are under way.
      const std::unique_ptr<TAgentKey> Lent = ConnectTo(*Agent);
      const TKeySignature Signature = Lent->SignDigest(ProbeDigest(0), EVP_sha256());
      Outputs[Index] = (Signature.Value.empty() ? Signature.Error : Hex(Signature.Value)) + "\n";
    });
  for (std::thread& Worker : Workers) Worker.join();
  for (const std::string& Output : Outputs) EXPECT_EQ(Output, Expected);
}

TEST(KeyAgent, ASessionWhoseThreadsCannotStartIsRefusedWhole) {
  if (!TAddressSpaceLimit::Possible) GTEST_SKIP() << "the sanitizer's reserved address space leaves no room to limit";
  std::unique_ptr<TSigningKey> Key = std::make_unique<TGatheringKey>(1);
  TKeyAgent::TStartResult Started;
  {
    const TAddressSpaceLimit Limit;
    Started = TKeyAgent::Start(std::move(Key));
  }
  EXPECT_FALSE(Started.Agent);
  EXPECT_TRUE(Started.Error.starts_with("No thread can be started")) << Started.Error;
}

TEST(KeyAgent, AnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "running a client as another user needs root";
  // The folder made for the socket, not a shared runtime folder, is opened up below.
  const TScopedEnvironment Restore("XDG_RUNTIME_DIR", std::nullopt);
  TSignCounts Counts;
  const std::unique_ptr<TKeyAgent> Agent = StartAgent(std::make_unique<TCountingKey>(TestKey(), Counts));
  const auto RunAsNobody = [&](const char* Argument) {
    return RunProcess("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "env",
                                  std::string(KeyAgentVariable) + "=" + Agent->SocketPath(), Probe(), Argument});
  };
  TProcessResult Result = RunAsNobody("1");
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Err, "The window's signing session cannot be reached: Permission denied\n");

  // Were the folder and socket open to all, the peer's user still decides, on either side: the
  // agent closes the connection unanswered, and a client will not use another user's agent.
  const std::string Folder = std::filesystem::path(Agent->SocketPath()).parent_path();
  ASSERT_EQ(::chmod(Folder.c_str(), 0711), 0);
  ASSERT_EQ(::chmod(Agent->SocketPath().c_str(), 0666), 0);
  Result = RunAsNobody("raw");
  EXPECT_EQ(Result.ExitCode, 0);
  EXPECT_EQ(Result.Out, "0\n");
  Result = RunAsNobody("1");
  EXPECT_EQ(Result.ExitCode, 1);
  EXPECT_EQ(Result.Err, "The signing session at " + Agent->SocketPath() + " belongs to another user.\n");
  EXPECT_EQ(Counts.Signed, 0);

  const TKeySignature Signature = ConnectTo(*Agent)->SignDigest(ProbeDigest(0), EVP_sha256());
  EXPECT_EQ(Hex(Signature.Value) + "\n", ExpectedProbeOutput(1));
}

TEST(KeyAgent, ClientsFailAtOnceWhenTheSessionEnds) {
  std::unique_ptr<TKeyAgent> Agent = StartAgent(TestKey());
  const std::string Path = Agent->SocketPath();
  const std::unique_ptr<TAgentKey> Lent = ConnectTo(*Agent);
  ASSERT_FALSE(Lent->SignDigest(ProbeDigest(0), EVP_sha256()).Value.empty());

  Agent->Stop();
  // The default time-out of two minutes is not what ends these: each says the session ended.
  EXPECT_EQ(Lent->SignDigest(ProbeDigest(1), EVP_sha256()).Error, SessionEnded);
  EXPECT_EQ(Lent->SignDigest(ProbeDigest(2), EVP_sha256()).Error, SessionEnded);
  EXPECT_EQ(TAgentKey::Connect(Path).Error, SessionEnded);
  EXPECT_FALSE(std::filesystem::exists(Path));
  Agent->Stop();
  Agent.reset();
}

TEST(KeyAgent, AnAgentThatNeverAnswersTimesOut) {
  QTemporaryDir Folder;
  const std::string Path = Folder.filePath("silent").toStdString();
  TDescriptor Listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  Path.copy(Address.sun_path, sizeof Address.sun_path - 1);
  ASSERT_EQ(::bind(Listener.Get(), reinterpret_cast<const sockaddr*>(&Address), sizeof Address), 0);
  ASSERT_EQ(::listen(Listener.Get(), 4), 0);
  EXPECT_EQ(TAgentKey::Connect(Path, std::chrono::milliseconds(200)).Error,
            "The window's signing session did not answer in time.");
}

TEST(KeyAgent, SocketIsPrivateWhereverItIsPlaced) {
  QTemporaryDir Runtime;
  const std::string Private = Runtime.filePath("private").toStdString(), Open = Runtime.filePath("open").toStdString(),
                    Link = Runtime.filePath("link").toStdString();
  ASSERT_EQ(::mkdir(Private.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(Open.c_str(), 0755), 0);
  ASSERT_EQ(::symlink(Private.c_str(), Link.c_str()), 0);

  const auto FolderOf = [](const TKeyAgent& Agent) { return std::filesystem::path(Agent.SocketPath()).parent_path(); };
  const std::vector<std::optional<std::string>> Candidates{std::nullopt, Open, Link, "relative"};
  for (const std::optional<std::string>& Candidate : Candidates) {
    const TScopedEnvironment Restore("XDG_RUNTIME_DIR", Candidate);
    std::unique_ptr<TKeyAgent> Agent = StartAgent(TestKey());
    const std::filesystem::path Folder = FolderOf(*Agent);
    SCOPED_TRACE(Candidate.value_or("unset"));
    EXPECT_EQ(Folder.parent_path(), std::filesystem::temp_directory_path());
    EXPECT_EQ(ModeOf(Folder) & 07777, 0700u);
    EXPECT_TRUE(S_ISDIR(ModeOf(Folder)));
    EXPECT_TRUE(S_ISSOCK(ModeOf(Agent->SocketPath())));
    EXPECT_EQ(ModeOf(Agent->SocketPath()) & 07777, 0600u);
    Agent.reset();
    EXPECT_FALSE(std::filesystem::exists(Folder));
  }

  // The runtime folder is shared: an agent takes only its own socket away.
  const TScopedEnvironment Restore("XDG_RUNTIME_DIR", Private);
  std::unique_ptr<TKeyAgent> Agent = StartAgent(TestKey());
  const std::unique_ptr<TKeyAgent> Second = StartAgent(TestKey());
  const std::string Socket = Agent->SocketPath();
  EXPECT_EQ(FolderOf(*Agent), Private);
  EXPECT_EQ(ModeOf(Socket) & 07777, 0600u);
  EXPECT_NE(Second->SocketPath(), Socket);
  Agent.reset();
  EXPECT_FALSE(std::filesystem::exists(Socket));
  EXPECT_TRUE(std::filesystem::exists(Second->SocketPath()));
}

TEST(KeyAgent, MalformedOrStalledRequestsDisturbNoOneElse) {
  TSignCounts Counts;
  const std::unique_ptr<TKeyAgent> Agent = StartAgent(std::make_unique<TCountingKey>(TestKey(), Counts));
  const auto Frame = [](std::vector<std::uint8_t> Body) { return AgentFrame(Body); };
  const std::vector<std::uint8_t> Sha256Digest(32, 1);
  const std::vector<std::vector<std::uint8_t>> Refused{
      {0xff, 0xff, 0xff, 0xff, 1},                    // a frame beyond the limit
      {0, 0, 0, 0},                                   // an empty frame
      Frame({9}),                                     // an unknown request
      Frame({1, 0}),                                  // a certificates request with more
      Frame({2, 9, 32}),                              // an unknown digest algorithm
      Frame({2, 2, 20, 1, 2, 3}),                     // a digest of the wrong length
      Frame({3, 0, 0, 0, 0}),                         // an HTTP call without its fields
      Frame({3, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),  // for 49 days
  };
  for (const std::vector<std::uint8_t>& Request : Refused) {
    TDescriptor Socket = RawConnection(Agent->SocketPath());
    ASSERT_EQ(::send(Socket.Get(), Request.data(), Request.size(), MSG_NOSIGNAL), static_cast<ssize_t>(Request.size()));
    EXPECT_EQ(ReadUntilClosed(Socket.Get()), "") << Hex(Request);
  }

  // Half a request, and a reply never read: neither holds up a client that behaves.
  TDescriptor Stalled = RawConnection(Agent->SocketPath());
  const std::vector<std::uint8_t> Half = Frame({2, 2, 32, 1, 1});
  ASSERT_GT(::send(Stalled.Get(), Half.data(), Half.size(), MSG_NOSIGNAL), 0);
  TDescriptor Deaf = RawConnection(Agent->SocketPath());
  std::vector<std::uint8_t> Many;
  for (int Index = 0; Index < 2000; ++Index) {
    const std::vector<std::uint8_t> Request = AgentFrame(CertificatesRequest());
    Many.insert(Many.end(), Request.begin(), Request.end());
  }
  ASSERT_GT(::send(Deaf.Get(), Many.data(), Many.size(), MSG_NOSIGNAL), 0);

  const TKeySignature Signature = ConnectTo(*Agent)->SignDigest(ProbeDigest(0), EVP_sha256());
  EXPECT_EQ(Hex(Signature.Value) + "\n", ExpectedProbeOutput(1));
  EXPECT_EQ(Counts.Signed, 1);
}

TEST(KeyAgent, ClientProcessHoldsNothingOfThePassword) {
  const std::unique_ptr<TKeyAgent> Agent = StartAgent(TestKey());
  QProcess Child;
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  Environment.insert(KeyAgentVariable, QString::fromStdString(Agent->SocketPath()));
  Child.setProcessEnvironment(Environment);
  Child.start(QString::fromStdString(Probe()), {"3", "hold"});
  ASSERT_TRUE(Child.waitForStarted());
  std::string Output;
  while (Output.find("ready\n") == std::string::npos && Child.waitForReadyRead(60000))
    Output += Child.readAllStandardOutput().toStdString();
  EXPECT_EQ(Output, ExpectedProbeOutput(3) + "ready\n");

  const auto Read = [&](const char* What) {
    std::ifstream File("/proc/" + std::to_string(Child.processId()) + "/" + What, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(File), {});
  };
  const std::string CommandLine = Read("cmdline"), Variables = Read("environ");
  EXPECT_NE(Variables.find(std::string(KeyAgentVariable) + "=" + Agent->SocketPath()), std::string::npos);
  for (const std::string& Seen : {CommandLine, Variables})
    EXPECT_EQ(Seen.find(TestPki().PfxPassword), std::string::npos);
  Child.write("\n");
  ASSERT_TRUE(Child.waitForFinished());
  EXPECT_EQ(Child.exitCode(), 0);
}

TEST(KeyAgent, MakesItsClientsHttpCallsAsTheyAskedSeveralAtOnce) {
  LoopbackHttpServer Server([](const THttpRequest& Request) -> std::optional<THttpResponse> {
    // Held a while, so that calls the agent made one after the other could not overlap.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (Request.Body == "throttle me") return THttpResponse{429, "text/plain", "later", {{"Retry-After", "7"}}};
    return THttpResponse{200, "application/x-echo",
                         Request.Method + " " + Request.Target + " " + Request.Headers.at("x-asked-by") + " " + Request.Body};
  });
  const std::unique_ptr<TKeyAgent> Agent = StartAgent(TestKey());
  const auto Deadline = [] { return TSteadyClock::now() + std::chrono::seconds(60); };

  const THttpAnswer Throttled =
      ConnectTo(*Agent)->CallHttp({"POST", Server.Url("/tsa"), {}, "throttle me", {}}, Deadline(), -1);
  EXPECT_EQ(Throttled.End, THttpAnswer::TEnd::Answered);
  EXPECT_EQ(Throttled.Status, 429);
  EXPECT_EQ(Throttled.RetryAfter, std::chrono::seconds(7));
  EXPECT_EQ(Throttled.Body, "later");

  std::vector<std::thread> Clients;
  std::vector<THttpAnswer> Answers(4);
  for (int Index = 0; Index < 4; ++Index)
    Clients.emplace_back([&, Index] {
      const std::unique_ptr<TAgentKey> Lent = ConnectTo(*Agent);
      const std::string Body(Index == 3 ? 40000 : 3, static_cast<char>('a' + Index));
      Answers[Index] = Lent->CallHttp({"POST", Server.Url("/tsa?n=" + std::to_string(Index)),
                                       {"X-Asked-By: client " + std::to_string(Index)}, Body, {}}, Deadline(), -1);
    });
  for (std::thread& Client : Clients) Client.join();
  for (int Index = 0; Index < 4; ++Index) {
    EXPECT_EQ(Answers[Index].Status, 200) << Answers[Index].Error;
    const std::string Body(Index == 3 ? 40000 : 3, static_cast<char>('a' + Index));
    EXPECT_EQ(Answers[Index].Body, "POST /tsa?n=" + std::to_string(Index) + " client " + std::to_string(Index) + " " + Body);
  }
  EXPECT_GE(Server.MostAtOnce(), 2);

  // A failure to connect is the agent's to tell, in its own words, and the client goes on.
  const std::unique_ptr<TAgentKey> Lent = ConnectTo(*Agent);
  const THttpAnswer Refused = Lent->CallHttp({"POST", "http://127.0.0.1:1/", {}, "x", {}}, Deadline(), -1);
  EXPECT_EQ(Refused.End, THttpAnswer::TEnd::Failed);
  EXPECT_FALSE(Refused.Error.empty());
  EXPECT_FALSE(Lent->SignDigest(ProbeDigest(0), EVP_sha256()).Value.empty());
}

TEST(KeyAgent, AnHttpCallUnderWayEndsWithTheSessionOrTheRun) {
  LoopbackHttpServer Silent([](const THttpRequest&) -> std::optional<THttpResponse> { return std::nullopt; });
  const auto Deadline = TSteadyClock::now() + std::chrono::minutes(9);

  // The run interrupted: the call ends at once, and with it the connection, whose reply would
  // otherwise be taken for the next request's.
  std::unique_ptr<TKeyAgent> Agent = StartAgent(TestKey());
  const std::unique_ptr<TAgentKey> Lent = ConnectTo(*Agent);
  const TDescriptor Interruption(::eventfd(0, EFD_CLOEXEC));
  std::thread Interrupter([&] {
    while (Silent.RequestCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::uint64_t One = 1;
    EXPECT_EQ(::write(Interruption.Get(), &One, sizeof One), static_cast<ssize_t>(sizeof One));
  });
  EXPECT_EQ(Lent->CallHttp({"POST", Silent.Url("/"), {}, "x", {}}, Deadline, Interruption.Get()).End,
            THttpAnswer::TEnd::Interrupted);
  Interrupter.join();
  EXPECT_FALSE(Lent->SignDigest(ProbeDigest(0), EVP_sha256()).Error.empty());

  // The session ended: neither the agent nor its client waits for the server any longer.
  const std::unique_ptr<TAgentKey> Other = ConnectTo(*Agent);
  std::thread Stopper([&] {
    while (Silent.RequestCount() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Agent->Stop();
  });
  const THttpAnswer Ended = Other->CallHttp({"POST", Silent.Url("/"), {}, "x", {}}, Deadline, -1);
  Stopper.join();
  EXPECT_EQ(Ended.End, THttpAnswer::TEnd::Failed);
  EXPECT_EQ(Ended.Error, SessionEnded);
}
