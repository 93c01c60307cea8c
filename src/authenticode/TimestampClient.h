#pragma once
// Asks timestamp servers for a timestamp over one signature value, as a batch of files does:
// the servers in their shared order, each host at its shared pace, and a few tries within a
// budget per file. Only a checked answer (see TimestampAnswer.h) is ever returned as a token.
//
// A round asks each server once, in the batch's current order, until one grants a timestamp.
// A server that fails goes behind the others for the rest of the batch. One that throttles
// (429, or 503 with Retry-After) teaches its host's pace (HostPace.h); when it said how long to
// wait, it is asked again in the next round once that wait is over. After any other network
// error, time-out, 408, 429 or 5xx the next round follows RetryWait later. Other refusals and answers that are no valid timestamp are not
// asked again for this file. Safe to use from several threads at once.
#include <openssl/evp.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "authenticode/HostPace.h"
#include "authenticode/HttpCall.h"
#include "authenticode/TimestampProtocol.h"
#include "authenticode/TimestampServerOrder.h"

struct TTimestampSettings {
  TTimestampProtocol Protocol = TTimestampProtocol::Rfc3161;
  const EVP_MD* Digest = EVP_sha256();  // of the RFC 3161 imprint (signtool's /td)
  int Tries = 3;                        // rounds over the servers
  std::chrono::milliseconds RetryWait{10'000};
  std::chrono::milliseconds TryTimeout{20'000};  // one request
  std::chrono::milliseconds Budget{60'000};      // every try and wait for one signature
  std::string CaFile;                            // see THttpCall
  int Interruption = -1;                         // see InterruptibleWait.h
  THttpCaller Http;                              // CallHttp when empty
};

struct TTimestampFailure {
  std::string Server;
  std::string Problem;  // in English
};

struct TTimestampOutcome {
  std::optional<TTimestampToken> Token;
  bool Interrupted = false;
  std::vector<TTimestampFailure> Failures;  // every failed try, in order
};

class TTimestampClient {
 public:
  // Order and Pace are the batch's and outlive the client.
  TTimestampClient(TTimestampSettings Settings, TTimestampServerOrder& Order, THostPace& Pace)
      : Settings(std::move(Settings)), Order(Order), Pace(Pace) {}

  // Throws std::runtime_error when the request cannot be built.
  TTimestampOutcome Stamp(std::span<const std::uint8_t> SignatureValue) const;

 private:
  enum class TTry { Stamped, Throttled, Failed, Refused, OutOfTime, Interrupted };
  struct TRequestState;

  TTry Ask(const std::string& Server, TRequestState& State, TTimestampOutcome& Outcome) const;

  TTimestampSettings Settings;
  TTimestampServerOrder& Order;
  THostPace& Pace;
};
