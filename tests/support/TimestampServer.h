#pragma once
// A time-stamping authority on 127.0.0.1 for signing tests, signing with the test PKI's TSA
// certificate. One address serves both kinds of request: RFC 3161 queries (content type
// application/timestamp-query) and Authenticode requests (any other POST: base64 of a PKCS#7
// time-stamp request, answered with base64 PKCS#7 signed data over the signature it carries).
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "support/LoopbackHttpServer.h"

enum class TTimestampBehaviour {
  Answer,         // time-stamps every well-formed request
  Refuse,         // answers every request with HTTP 500
  Reject,         // answers every request with HTTP 400, which no client should try again
  Silent,         // never answers; connections stay open until the server stops
  ThrottleFirst,  // answers the first request for each signature with HTTP 429 and
                  // "Retry-After: 1", and time-stamps it when asked again
  WrongImprint,   // time-stamps a digest or signature one bit off the one asked for
  Replay          // answers every request with the first time-stamp it gave
};

// Who stamps, and at which time (seconds since 1970 UTC; the clock's when not given).
struct TTsaIdentity {
  std::string CertPath, KeyPath;
  std::optional<std::int64_t> StampTime;
};

class TimestampServer {
 public:
  // Throws std::runtime_error when the TSA key or certificate cannot be loaded. Stamps as the
  // test PKI's TSA unless told otherwise. Every answer comes Delay after its request was read.
  explicit TimestampServer(TTimestampBehaviour Behaviour = TTimestampBehaviour::Answer,
                           std::chrono::milliseconds Delay = {});
  TimestampServer(TTimestampBehaviour Behaviour, const TTsaIdentity& Identity, std::chrono::milliseconds Delay = {});
  // Gate sees every request first; an answer from it goes out instead of the time-stamp.
  TimestampServer(TTimestampBehaviour Behaviour, LoopbackHttpServer::Handler Gate);
  ~TimestampServer();
  TimestampServer(const TimestampServer&) = delete;
  TimestampServer& operator=(const TimestampServer&) = delete;

  std::string Url() const { return Http->Url("/"); }
  std::uint16_t Port() const { return Http->Port(); }
  int RequestCount() const { return Http->RequestCount(); }
  int MostAtOnce() const { return Http->MostAtOnce(); }

 private:
  TimestampServer(TTimestampBehaviour Behaviour, const TTsaIdentity& Identity, std::chrono::milliseconds Delay,
                  LoopbackHttpServer::Handler Gate);

  struct TSigner;
  std::unique_ptr<TSigner> Signer;
  std::unique_ptr<LoopbackHttpServer> Http;  // declared last: stops before the signer goes
};
