#include "support/TlsFront.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <stdexcept>
#include <string_view>

#include "support/TestPki.h"

namespace {
using TSsl = std::unique_ptr<SSL, decltype([](SSL* Ssl) { SSL_free(Ssl); })>;

sockaddr_in Loopback(std::uint16_t Port) {
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = htons(Port);
  return Address;
}

// Waits until Fd is ready for Events; false once Wake is readable (the front stops) or Fd fails.
bool WaitFor(int Fd, short Events, int Wake) {
  for (;;) {
    pollfd Watched[2] = {{Fd, Events, 0}, {Wake, POLLIN, 0}};
    const int Ready = ::poll(Watched, 2, -1);
    if (Ready < 0 && errno == EINTR) continue;
    if (Ready < 0 || Watched[1].revents != 0) return false;
    if (Watched[0].revents != 0) return true;
  }
}

// Repeats an SSL call that a non-blocking socket interrupts; its result once it is done.
template <typename TCall>
int Complete(SSL* Ssl, int Fd, int Wake, TCall Call) {
  for (;;) {
    const int Result = Call();
    if (Result > 0) return Result;
    const int Error = SSL_get_error(Ssl, Result);
    if (Error == SSL_ERROR_WANT_READ && WaitFor(Fd, POLLIN, Wake)) continue;
    if (Error == SSL_ERROR_WANT_WRITE && WaitFor(Fd, POLLOUT, Wake)) continue;
    return Result;
  }
}

bool SendAll(int Fd, std::string_view Data) {
  while (!Data.empty()) {
    const ssize_t Sent = ::send(Fd, Data.data(), Data.size(), MSG_NOSIGNAL);
    if (Sent < 0 && errno == EINTR) continue;
    if (Sent <= 0) return false;
    Data.remove_prefix(static_cast<std::size_t>(Sent));
  }
  return true;
}
}  // namespace

struct TlsFront::TContext {
  std::unique_ptr<SSL_CTX, decltype([](SSL_CTX* Context) { SSL_CTX_free(Context); })> Ssl{SSL_CTX_new(TLS_server_method())};
};

TlsFront::TlsFront(std::uint16_t BackendPort) : Context(std::make_unique<TContext>()), BackendPort(BackendPort) {
  const TTlsPki& Pki = TlsPki();
  if (!Context->Ssl || SSL_CTX_use_certificate_file(Context->Ssl.get(), Pki.ServerCertPath.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(Context->Ssl.get(), Pki.ServerKeyPath.c_str(), SSL_FILETYPE_PEM) != 1)
    throw std::runtime_error("cannot load the TLS server certificate");
  int Wake[2];
  if (::pipe2(Wake, O_CLOEXEC) != 0) throw std::runtime_error("cannot create the front's wake pipe");
  WakeRead = Wake[0];
  WakeWrite = Wake[1];
  Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in Address = Loopback(0);
  socklen_t Length = sizeof(Address);
  if (Listener < 0 || ::bind(Listener, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0 ||
      ::listen(Listener, 64) != 0 || ::getsockname(Listener, reinterpret_cast<sockaddr*>(&Address), &Length) != 0) {
    if (Listener >= 0) ::close(Listener);
    ::close(WakeRead);
    ::close(WakeWrite);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  ListenPort = ntohs(Address.sin_port);
  Worker = std::thread([this] { Serve(); });
}

TlsFront::~TlsFront() {
  const char Stop = 's';
  (void)!::write(WakeWrite, &Stop, 1);
  Worker.join();
  for (std::thread& Connection : Connections) Connection.join();
  ::close(Listener);
  ::close(WakeRead);
  ::close(WakeWrite);
}

std::string TlsFront::Url(const std::string& Path) const {
  return "https://127.0.0.1:" + std::to_string(ListenPort) + Path;
}

void TlsFront::Serve() {
  while (WaitFor(Listener, POLLIN, WakeRead)) {
    const int Client = ::accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (Client >= 0) Connections.emplace_back([this, Client] { Pass(Client); });
  }
}

void TlsFront::Pass(int Client) {
  const TSsl Ssl(SSL_new(Context->Ssl.get()));
  const int Backend = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in Address = Loopback(BackendPort);
  if (Ssl && Backend >= 0 && SSL_set_fd(Ssl.get(), Client) == 1 &&
      Complete(Ssl.get(), Client, WakeRead, [&] { return SSL_accept(Ssl.get()); }) > 0 &&
      ::connect(Backend, reinterpret_cast<const sockaddr*>(&Address), sizeof(Address)) == 0) {
    // The request goes on as it comes; the server's answer, ended by its closing, comes back.
    char Chunk[16 * 1024];
    bool ClientDone = false;
    for (;;) {
      pollfd Watched[3] = {{ClientDone ? -1 : Client, POLLIN, 0}, {Backend, POLLIN, 0}, {WakeRead, POLLIN, 0}};
      if (SSL_pending(Ssl.get()) == 0 && ::poll(Watched, 3, -1) < 0 && errno != EINTR) break;
      if (Watched[2].revents != 0) break;
      if (!ClientDone && (SSL_pending(Ssl.get()) > 0 || Watched[0].revents != 0)) {
        const int Read = SSL_read(Ssl.get(), Chunk, sizeof(Chunk));
        if (Read > 0) {
          if (!SendAll(Backend, std::string_view(Chunk, static_cast<std::size_t>(Read)))) break;
        } else if (SSL_get_error(Ssl.get(), Read) != SSL_ERROR_WANT_READ) {
          ClientDone = true;
          ::shutdown(Backend, SHUT_WR);
        }
      }
      if (Watched[1].revents != 0) {
        const ssize_t Read = ::recv(Backend, Chunk, sizeof(Chunk), 0);
        if (Read <= 0) break;
        if (Complete(Ssl.get(), Client, WakeRead,
                     [&] { return SSL_write(Ssl.get(), Chunk, static_cast<int>(Read)); }) <= 0)
          break;
      }
    }
    SSL_shutdown(Ssl.get());
  }
  ERR_clear_error();
  if (Backend >= 0) ::close(Backend);
  ::close(Client);
}
