#pragma once
// A key lent by a TKeyAgent of this user: the certificates are fetched once when connecting, and
// each signature is asked of the agent, as are the run's HTTP requests. When the agent is gone, or
// does not answer in time, the signature or request fails with a message that says so; the
// connection is not tried again.
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "authenticode/HttpCall.h"
#include "authenticode/SigningKey.h"
#include "common/Descriptor.h"
#include "common/OpenSslPtr.h"

// The environment variable that gives a program the socket of the session it is to sign with.
inline constexpr const char* KeyAgentVariable = "QUILLORY_KEY_AGENT";
// Set on a run started ahead of its turn: it readies itself, then waits for its turn on standard
// input before it reaches its key or any file (AwaitTurn).
inline constexpr const char* AwaitTurnVariable = "QUILLORY_AWAIT_TURN";

// Long enough for a token that signs slowly or waits for its turn behind other requests.
inline constexpr std::chrono::milliseconds DefaultAgentReplyTimeout = std::chrono::minutes(2);

class TAgentKey final : public TSigningKey {
 public:
  struct TConnectResult {
    std::unique_ptr<TAgentKey> Key;  // empty on failure
    std::string Error;               // English, for "SignTool Error: "
  };
  static TConnectResult Connect(const std::string& SocketPath,
                                std::chrono::milliseconds ReplyTimeout = DefaultAgentReplyTimeout);

  X509* Certificate() const override { return Certificates.front().get(); }
  std::vector<X509*> Chain() const override;
  // Thread-safe: requests on the one connection are made one after the other.
  TKeySignature SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) override;
  // Has the agent make the call (a THttpCaller); thread-safe as SignDigest.
  THttpAnswer CallHttp(const THttpCall& Call, TSteadyClock::time_point Deadline, int Interruption);

  using TCertificate = std::unique_ptr<X509, TOpenSslFree<X509_free>>;

 private:
  TAgentKey(TDescriptor Socket, std::chrono::milliseconds ReplyTimeout);
  // The reply's body, or nothing with Error set (empty when interrupted).
  std::optional<std::vector<std::uint8_t>> Exchange(std::span<const std::uint8_t> Request, std::string& Error,
                                                    TSteadyClock::time_point Deadline, int Interruption = -1);

  TDescriptor Socket;
  std::chrono::milliseconds ReplyTimeout;
  std::vector<TCertificate> Certificates;  // the signer's first
  std::mutex Lock;
  std::string Broken;  // why the connection can no longer be used
};
