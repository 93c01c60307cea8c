#pragma once
// An https front for a loopback test server: accepts TLS on 127.0.0.1 with the test TLS PKI's
// server certificate and passes each connection's bytes on to the server's port and back, so
// that the plain servers of the tests can be reached over https.
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class TlsFront {
 public:
  // Throws std::runtime_error when it cannot listen or load the certificate.
  explicit TlsFront(std::uint16_t BackendPort);
  ~TlsFront();  // stops and joins
  TlsFront(const TlsFront&) = delete;
  TlsFront& operator=(const TlsFront&) = delete;

  std::string Url(const std::string& Path) const;  // "https://127.0.0.1:<port>" + Path

 private:
  struct TContext;
  void Serve();
  void Pass(int Client);

  std::unique_ptr<TContext> Context;
  std::uint16_t BackendPort;
  std::uint16_t ListenPort = 0;
  int Listener = -1;
  int WakeRead = -1, WakeWrite = -1;
  std::vector<std::thread> Connections;  // only the accepting thread touches it
  std::thread Worker;
};
