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

TEST(TimestampServers, AFailedServerGoesBehindTheOthersForEveryoneSharingThePaceFile) {
  TPaceFile File;
  TTimestampServerOrder Order({"a", "b", "c"}, File);
  Order.PutBehind("a");
  EXPECT_EQ(Order.Current(), (Servers{"b", "c", "a"}));
  Order.PutBehind("c");
  EXPECT_EQ(Order.Current(), (Servers{"b", "a", "c"}));
  Order.PutBehind("unknown");
  EXPECT_EQ(Order.Current(), (Servers{"b", "a", "c"}));
  // Another run of the batch, and one that names the servers otherwise, see what failed.
  EXPECT_EQ(TTimestampServerOrder({"a", "b", "c"}, File).Current(), (Servers{"b", "a", "c"}));
  TTimestampServerOrder Other({"c", "d", "a"}, File);
  EXPECT_EQ(Other.Current(), (Servers{"d", "a", "c"}));
  Other.PutBehind("d");
  EXPECT_EQ(Order.Current(), (Servers{"b", "a", "c"}));
  EXPECT_EQ(Other.Current(), (Servers{"a", "c", "d"}));
}
