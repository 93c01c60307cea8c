#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for tests that need a real server to talk to. It answers
// one request per connection, each connection on a thread of its own, with plain POSIX sockets.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct THttpRequest {
  std::string Method, Target, Body;
  std::map<std::string, std::string> Headers;  // names lower-cased
};

struct THttpResponse {
  int Status = 200;
  std::string ContentType = "text/plain";
  std::string Body;
  std::map<std::string, std::string> Headers = {};  // further headers
};

// An answer that never ends: Head, then Repeated again and again, Pause apart, until the client
// goes away or the server stops.
struct THttpFlood {
  std::string Head;
  std::string Repeated;
  std::chrono::milliseconds Pause{0};
};

class LoopbackHttpServer {
 public:
  // Called on the connection's thread, for several connections at once. Returning std::nullopt leaves the request unanswered and the
  // connection open until the server stops, as a server that never answers would.
  using Handler = std::function<std::optional<THttpResponse>(const THttpRequest&)>;

  // Listens on a free port; throws std::runtime_error when it cannot.
  explicit LoopbackHttpServer(Handler OnRequest);
  // Answers every request with Flood.
  explicit LoopbackHttpServer(THttpFlood Flood);
  ~LoopbackHttpServer();  // stops and joins
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::uint16_t Port() const { return ListenPort; }
  std::string Url(const std::string& Path) const;  // "http://127.0.0.1:<port>" + Path
  int RequestCount() const { return Requests; }
  // The most requests that were being answered at the same time.
  int MostAtOnce() const { return PeakAtOnce; }

 private:
  LoopbackHttpServer(Handler OnRequest, std::optional<THttpFlood> Flood);
  void Serve();
  void Answer(int Connection);
  bool WaitReadable(int Descriptor);  // false once the server is stopping
  bool ReadMore(int Connection, std::string& Buffer);
  std::optional<THttpRequest> ReadRequest(int Connection);
  bool ReadBody(int Connection, std::string& Buffer, THttpRequest& Request);
  void SendFlood(int Connection);
  bool SendUntilStopped(int Connection, const std::string& Data);  // false once stopping or gone

  Handler OnRequest;
  std::optional<THttpFlood> Flood;
  int Listener = -1;
  int WakeRead = -1, WakeWrite = -1;
  std::uint16_t ListenPort = 0;
  std::atomic<int> Requests = 0;
  std::atomic<int> AtOnce = 0;
  std::atomic<int> PeakAtOnce = 0;
  std::mutex HeldLock;
  std::vector<int> Held;  // connections left unanswered
  std::vector<std::thread> Connections;  // only the accepting thread touches it
  std::thread Worker;
};
