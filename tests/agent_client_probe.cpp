// A client of a key agent in a process of its own: connects to the socket named by the session's
// environment variable, signs Count SHA-256 digests (those of "digest 0", "digest 1", …) and
// prints each signature in hex on a line. With "hold" it then prints "ready" and waits for a line
// on its input before it ends. Exit code 1, with the error on standard error, when a step fails.
// With "raw" instead of a count it asks for the certificates without checking whose the agent is,
// and prints how many bytes of reply came before the agent closed the connection.
#include <openssl/sha.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "keys/AgentKey.h"
#include "keys/KeyAgentProtocol.h"

namespace {
int AskWithoutChecking(const std::string& Path) {
  const TDescriptor Socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  Path.copy(Address.sun_path, sizeof Address.sun_path - 1);
  if (::connect(Socket.Get(), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
    std::perror("connect");
    return 1;
  }
  // Fails when the agent has already closed the connection; what follows then reads nothing.
  const std::vector<std::uint8_t> Request = AgentFrame(CertificatesRequest());
  ::send(Socket.Get(), Request.data(), Request.size(), MSG_NOSIGNAL);
  std::size_t Replied = 0;
  char Buffer[4096];
  for (ssize_t Read; (Read = ::recv(Socket.Get(), Buffer, sizeof Buffer, 0)) > 0;) Replied += static_cast<std::size_t>(Read);
  std::printf("%zu\n", Replied);
  return 0;
}
}  // namespace

int main(int Argc, char** Argv) {
  if (Argc < 2) return 2;
  const char* Socket = std::getenv(KeyAgentVariable);
  if (std::string(Argv[1]) == "raw") return AskWithoutChecking(Socket ? Socket : "");
  TAgentKey::TConnectResult Connected = TAgentKey::Connect(Socket ? Socket : "");
  if (!Connected.Key) {
    std::cerr << Connected.Error << '\n';
    return 1;
  }
  const int Count = std::atoi(Argv[1]);
  for (int Index = 0; Index < Count; ++Index) {
    const std::string Text = "digest " + std::to_string(Index);
    unsigned char Digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(Text.data()), Text.size(), Digest);
    const TKeySignature Signature = Connected.Key->SignDigest(Digest, EVP_sha256());
    if (Signature.Value.empty()) {
      std::cerr << Signature.Error << '\n';
      return 1;
    }
    for (const std::uint8_t Byte : Signature.Value) std::printf("%02x", Byte);
    std::printf("\n");
  }
  if (Argc > 2 && std::string(Argv[2]) == "hold") {
    std::printf("ready\n");
    std::fflush(stdout);
    std::string Line;
    std::getline(std::cin, Line);
  }
  return 0;
}
