// The wait a time-stamp server asks for, as signtool.exe reads it from the server's answer.
#include <gtest/gtest.h>

#include "common/HttpResponseReader.h"
#include "common/RetryAfter.h"

namespace {
constexpr std::time_t Now = 1445412480;  // Wed, 21 Oct 2015 07:28:00 GMT

std::optional<std::chrono::seconds> AskedIn(const std::string& Answer) {
  THttpResponseReader Reader(1024);
  Reader.Feed(Answer);
  Reader.End();
  if (Reader.State() != THttpResponseReader::TState::Done) return std::nullopt;
  const std::optional<std::string> Value = Reader.Field("Retry-After");
  return Value ? ParseRetryAfter(*Value, Now) : std::nullopt;
}

TEST(RetryAfter, SecondsOrADateInAnyCaseOfTheFieldName) {
  EXPECT_EQ(AskedIn("HTTP/1.1 429 Too Many Requests\r\nretry-AFTER:  15 \r\nX: y\r\n\r\n"), std::chrono::seconds(15));
  EXPECT_EQ(AskedIn("HTTP/1.0 503 Service Unavailable\nRetry-After: Wed, 21 Oct 2015 07:28:42 GMT\n\n"),
            std::chrono::seconds(42));
  EXPECT_EQ(ParseRetryAfter("Tue, 20 Oct 2015 07:28:00 GMT", Now), std::chrono::seconds(0));
  EXPECT_EQ(AskedIn("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), std::nullopt);
  // Interim answers carry no wait of their own into the real one.
  EXPECT_EQ(AskedIn("HTTP/1.1 100 Continue\r\nRetry-After: 5\r\n\r\nHTTP/1.1 503 x\r\nContent-Length: 0\r\n\r\n"),
            std::nullopt);
}

TEST(RetryAfter, WaitsBeyondTheLongestCountAsIt) {
  // Neither read as no wait at all (a try at once) nor overflowing when added to the clock.
  EXPECT_EQ(ParseRetryAfter("99999999999999999999999", Now), LongestRetryAfter);
  EXPECT_EQ(ParseRetryAfter("Fri, 31 Dec 9999 23:59:59 GMT", Now), LongestRetryAfter);
}

TEST(RetryAfter, WhatIsNoWait) {
  for (const std::string_view Value : std::initializer_list<std::string_view>{"soon", "-5", "1.5", "Wed, 21 Oct 2015 07:28:00", "", " 5",
                                                                             std::string_view("Wed, 21 Oct 2015 07:28:42 GMT\0junk", 34)})
    EXPECT_EQ(ParseRetryAfter(Value, Now), std::nullopt) << Value;
}
}  // namespace
