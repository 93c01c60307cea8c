#include "support/Tinyproxy.h"

#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {
sockaddr_in Loopback(int Port) {
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = htons(static_cast<std::uint16_t>(Port));
  return Address;
}

// A port nobody listens on right now.
int FreePort() {
  const int Probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in Address = Loopback(0);
  socklen_t Length = sizeof(Address);
  const bool Bound = Probe >= 0 && ::bind(Probe, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) == 0 &&
                     ::getsockname(Probe, reinterpret_cast<sockaddr*>(&Address), &Length) == 0;
  if (Probe >= 0) ::close(Probe);
  if (!Bound) throw std::runtime_error("no free port on 127.0.0.1");
  return ntohs(Address.sin_port);
}

bool Accepts(int Port) {
  const int Probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in Address = Loopback(Port);
  const bool Connected = Probe >= 0 && ::connect(Probe, reinterpret_cast<const sockaddr*>(&Address), sizeof(Address)) == 0;
  if (Probe >= 0) ::close(Probe);
  return Connected;
}
}  // namespace

Tinyproxy::Tinyproxy() : Folder(std::make_unique<QTemporaryDir>()), Process(std::make_unique<QProcess>()), Port(FreePort()) {
  if (!Folder->isValid()) throw std::runtime_error("cannot create a folder for tinyproxy");
  const std::string Config = Folder->filePath("tinyproxy.conf").toStdString();
  std::ofstream(Config) << "Port " << Port << "\nListen 127.0.0.1\nTimeout 60\nMaxClients 100\nAllow 127.0.0.1\n"
                        << "LogLevel Connect\nLogFile \"" << Folder->filePath("tinyproxy.log").toStdString() << "\"\n";
  Process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  Process->start("tinyproxy", {"-d", "-c", QString::fromStdString(Config)});
  if (!Process->waitForStarted()) throw std::runtime_error("cannot start tinyproxy");
  for (int Try = 0; Try < 200 && !Accepts(Port); ++Try) {
    if (Process->state() != QProcess::Running) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!Accepts(Port)) throw std::runtime_error("tinyproxy does not listen on port " + std::to_string(Port));
}

Tinyproxy::~Tinyproxy() {
  Process->terminate();
  if (!Process->waitForFinished(5000)) {
    Process->kill();
    Process->waitForFinished();
  }
}

std::string Tinyproxy::Url() const { return "http://127.0.0.1:" + std::to_string(Port); }

std::string Tinyproxy::Log() const {
  std::ostringstream Text;
  Text << std::ifstream(Folder->filePath("tinyproxy.log").toStdString()).rdbuf();
  return Text.str();
}
