#pragma once
// A small HTTP proxy on 127.0.0.1 that osslsigncode is sent through ("-p"), so that signtool
// learns what osslsigncode does not tell: whether the time-stamp server could be reached, and
// with which status and Retry-After it answered. Requests and answers pass through unchanged.
// Only plain http addresses can be seen this way, and only requests for the time-stamp servers
// it was given are passed on: any local program could send it others.
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class TTimestampRelay {
 public:
  struct TAnswer {
    int Status = 0;
    std::optional<std::chrono::seconds> RetryAfter;  // as the server asked
  };
  struct TSeen {
    bool Reached = false;  // a request came and was passed on
    std::optional<TAnswer> Answer;  // the server's answer; none: unreachable, or no whole answer
  };

  // Listens on a free port for requests to Servers (http addresses); ProxyUrl() is empty when
  // it cannot.
  explicit TTimestampRelay(const std::vector<std::string>& Servers);
  ~TTimestampRelay();  // stops and joins
  TTimestampRelay(const TTimestampRelay&) = delete;
  TTimestampRelay& operator=(const TTimestampRelay&) = delete;

  const std::string& ProxyUrl() const { return Url; }
  // What happened to the requests since the last call. A request still under way from before
  // the call counts for nothing afterwards.
  TSeen TakeSeen();

 private:
  void Serve();
  void Pass(int Client, unsigned Round);
  void Record(unsigned Round, const TSeen& What);

  std::vector<std::string> Servers;  // "host:port" of each, the host in lower case
  int Listener = -1;
  int WakeRead = -1, WakeWrite = -1;
  std::string Url;
  std::mutex Lock;
  unsigned CurrentRound = 0;
  TSeen Seen;
  std::thread Worker;
  std::vector<std::thread> Connections;  // only the worker touches it
};
