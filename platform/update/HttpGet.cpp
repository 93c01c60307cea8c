#include "HttpGet.h"

#include <QEventLoop>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

#include "common/HttpResponseReader.h"

namespace {
// Enough for any head and body that can be accepted; the socket takes no more at a time.
constexpr qint64 ReadBufferSize = 64 * 1024;

QByteArray RequestFor(const QUrl& Url) {
  QByteArray Target = Url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
  if (Target.isEmpty()) Target = "/";
  return "GET " + Target + " HTTP/1.1\r\nHost: " + Url.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toUtf8() +
         "\r\nAccept-Encoding: identity\r\nConnection: close\r\n\r\n";
}
}  // namespace

std::optional<THttpAnswer> HttpGet(const QUrl& Url, const QDeadlineTimer& Deadline, std::size_t MaxBodyBytes) {
  const bool Secure = Url.scheme() == QLatin1String("https");
  std::unique_ptr<QTcpSocket> Socket = Secure ? std::make_unique<QSslSocket>() : std::make_unique<QTcpSocket>();
  Socket->setReadBufferSize(ReadBufferSize);
  THttpResponseReader Reader(MaxBodyBytes);
  QEventLoop Loop;
  const auto ReadAvailable = [&] {
    while (Reader.State() == THttpResponseReader::TState::More && Socket->bytesAvailable() > 0) {
      const QByteArray Bytes = Socket->read(ReadBufferSize);
      Reader.Feed(std::string_view(Bytes.constData(), static_cast<std::size_t>(Bytes.size())));
    }
    if (Reader.State() != THttpResponseReader::TState::More) Loop.quit();
  };
  const auto Ended = [&] {
    ReadAvailable();
    Reader.End();
    Loop.quit();
  };
  const auto SendRequest = [&] { Socket->write(RequestFor(Url)); };
  if (Secure)
    QObject::connect(static_cast<QSslSocket*>(Socket.get()), &QSslSocket::encrypted, &Loop, SendRequest);
  else
    QObject::connect(Socket.get(), &QTcpSocket::connected, &Loop, SendRequest);
  QObject::connect(Socket.get(), &QTcpSocket::readyRead, &Loop, ReadAvailable);
  bool Broken = false;
  QObject::connect(Socket.get(), &QTcpSocket::disconnected, &Loop, Ended);
  QObject::connect(Socket.get(), &QTcpSocket::errorOccurred, &Loop, [&](QAbstractSocket::SocketError Error) {
    // The server closing the connection is how an answer without a length ends.
    if (Error == QAbstractSocket::RemoteHostClosedError) return Ended();
    Broken = true;
    Loop.quit();
  });
  QTimer Limit;
  Limit.setSingleShot(true);
  QObject::connect(&Limit, &QTimer::timeout, &Loop, &QEventLoop::quit);

  const quint16 Port = static_cast<quint16>(Url.port(Secure ? 443 : 80));
  if (Secure)
    static_cast<QSslSocket*>(Socket.get())->connectToHostEncrypted(Url.host(), Port);
  else
    Socket->connectToHost(Url.host(), Port);
  Limit.start(std::chrono::milliseconds(std::max<qint64>(0, Deadline.remainingTime())));
  // Painting and timers go on; input waits until the answer is in.
  if (Reader.State() == THttpResponseReader::TState::More && !Deadline.hasExpired())
    Loop.exec(QEventLoop::ExcludeUserInputEvents);
  QObject::disconnect(Socket.get(), nullptr, &Loop, nullptr);
  Socket->abort();

  if (Broken || Reader.State() != THttpResponseReader::TState::Done) return std::nullopt;
  return THttpAnswer{Reader.Status(), QByteArray::fromStdString(Reader.Body())};
}
