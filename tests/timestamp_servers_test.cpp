// The timestamp servers a user names, and the order a batch asks them in.
#include <gtest/gtest.h>

#include "authenticode/TimestampServerList.h"
#include "authenticode/TimestampServerOrder.h"

using Servers = std::vector<std::string>;

TEST(TimestampServers, SeparatedByBlanksOrSemicolonsEachOnce) {
  EXPECT_EQ(ParseTimestampServers(" http://a.example/ ;http://b.example/\thttps://c.example/tsa;;\r\nhttp://a.example/ "),
            (Servers{"http://a.example/", "http://b.example/", "https://c.example/tsa"}));
  EXPECT_EQ(ParseTimestampServers("http://only.example"), Servers{"http://only.example"});
  EXPECT_TRUE(ParseTimestampServers(" ; \t").empty());
}

TEST(TimestampServers, AFailedServerGoesBehindTheOthers) {
  TTimestampServerOrder Order({"a", "b", "c"});
  Order.PutBehind("a");
  EXPECT_EQ(Order.Current(), (Servers{"b", "c", "a"}));
  Order.PutBehind("c");
  EXPECT_EQ(Order.Current(), (Servers{"b", "a", "c"}));
  Order.PutBehind("unknown");
  EXPECT_EQ(Order.Current(), (Servers{"b", "a", "c"}));
}
