#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for tests that need a real server to talk to. It answers
// one request per connection from its own thread, with plain POSIX sockets.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
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
};

class LoopbackHttpServer {
 public:
  // Called on the server's thread. Returning std::nullopt leaves the request unanswered and the
  // connection open until the server stops, as a server that never answers would.
  using Handler = std::function<std::optional<THttpResponse>(const THttpRequest&)>;

  // Listens on a free port; throws std::runtime_error when it cannot.
  explicit LoopbackHttpServer(Handler OnRequest);
  ~LoopbackHttpServer();  // stops and joins
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::uint16_t Port() const { return ListenPort; }
  std::string Url(const std::string& Path) const;  // "http://127.0.0.1:<port>" + Path
  int RequestCount() const { return Requests; }

 private:
  void Serve();
  void Answer(int Connection);
  bool WaitReadable(int Descriptor);  // false once the server is stopping
  bool ReadMore(int Connection, std::string& Buffer);
  std::optional<THttpRequest> ReadRequest(int Connection);
  bool ReadBody(int Connection, std::string& Buffer, THttpRequest& Request);

  Handler OnRequest;
  int Listener = -1;
  int WakeRead = -1, WakeWrite = -1;
  std::uint16_t ListenPort = 0;
  std::atomic<int> Requests = 0;
  std::vector<int> Held;  // connections left unanswered; only the server's thread touches them
  std::thread Worker;
};
