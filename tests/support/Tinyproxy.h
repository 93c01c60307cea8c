#pragma once
// A real HTTP proxy for tests: Debian's tinyproxy, started on a free port of 127.0.0.1 with a
// configuration and log of its own, and stopped again by the destructor.
#include <memory>
#include <string>

class QProcess;
class QTemporaryDir;

class Tinyproxy {
 public:
  // Throws std::runtime_error when tinyproxy does not start listening.
  Tinyproxy();
  ~Tinyproxy();
  Tinyproxy(const Tinyproxy&) = delete;
  Tinyproxy& operator=(const Tinyproxy&) = delete;

  std::string Url() const;  // "http://127.0.0.1:<port>"
  // What tinyproxy logged so far: a "Request" line for each request it passed on, with the
  // request line ("POST http://… HTTP/1.1", "CONNECT host:port HTTP/1.1").
  std::string Log() const;

 private:
  std::unique_ptr<QTemporaryDir> Folder;
  std::unique_ptr<QProcess> Process;
  int Port = 0;
};
