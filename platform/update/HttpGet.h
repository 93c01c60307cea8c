#pragma once
// One HTTP GET on the calling thread, whose events go on meanwhile except user input.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QUrl>
#include <cstddef>
#include <optional>

struct THttpAnswer {
  int Status = 0;
  QByteArray Body;
};

// Asks for Url (http or https) and reads the whole answer, which must be in by Deadline:
// connecting, the head and the body all count against it. A body over MaxBodyBytes, an
// unreadable answer, a network error and the deadline all give nothing.
std::optional<THttpAnswer> HttpGet(const QUrl& Url, const QDeadlineTimer& Deadline, std::size_t MaxBodyBytes);
