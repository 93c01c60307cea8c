// Hex digits and percent escapes as URIs, key addresses and request signatures read them.
#include <gtest/gtest.h>

#include "common/TextUtil.h"

TEST(TextUtil, HexDigitsAndLowerHex) {
  EXPECT_EQ(HexValue('0'), 0);
  EXPECT_EQ(HexValue('9'), 9);
  EXPECT_EQ(HexValue('a'), 10);
  EXPECT_EQ(HexValue('F'), 15);
  for (const char NotHex : {'g', 'G', '/', ':', '@', '`', ' ', '\0', '\xC3'})
    EXPECT_EQ(HexValue(NotHex), -1) << int(NotHex);
  const unsigned char Bytes[] = {0x00, 0x0F, 0xA0, 0xFF};
  EXPECT_EQ(LowerHex(Bytes, sizeof Bytes), "000fa0ff");
  EXPECT_EQ(LowerHex(Bytes, 0), "");
}

TEST(TextUtil, PercentDecodeRefusesOrKeepsStrayPercent) {
  EXPECT_EQ(PercentDecode("a%20b%2f%2F%00"), std::string("a b//\0", 6));
  EXPECT_EQ(PercentDecode("%e4%B8%ad"), "\xE4\xB8\xAD");
  EXPECT_EQ(PercentDecode(""), "");
  for (const char* Stray : {"%", "a%", "%4", "a%4", "%g0", "%0g", "100%"}) {
    EXPECT_EQ(PercentDecode(Stray), std::nullopt) << Stray;
    EXPECT_EQ(PercentDecode(Stray, TStrayPercent::Kept), Stray) << Stray;
  }
  // A decoded "%" is not read again.
  EXPECT_EQ(PercentDecode("%2541"), "%41");
  EXPECT_EQ(PercentDecode("%41%", TStrayPercent::Kept), "A%");
  EXPECT_EQ(PercentDecode("%%41"), std::nullopt);
  EXPECT_EQ(PercentDecode("%%41", TStrayPercent::Kept), "%A");
}
