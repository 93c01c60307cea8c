#include <gtest/gtest.h>

#include <random>

#include "common/WindowsCommandLine.h"

using Args = std::vector<std::string>;

TEST(SplitCommandLine, BlanksAndQuotesSeparateArguments) {
  EXPECT_EQ(SplitCommandLine(R"(prog "abc" d e)"), (Args{"prog", "abc", "d", "e"}));
  EXPECT_EQ(SplitCommandLine("  prog\t a \t b  "), (Args{"prog", "a", "b"}));
  EXPECT_EQ(SplitCommandLine(R"(prog a"b c"d e)"), (Args{"prog", "ab cd", "e"}));
  EXPECT_EQ(SplitCommandLine(R"(prog "" x "")"), (Args{"prog", "", "x", ""}));
  EXPECT_EQ(SplitCommandLine(R"(prog "open to the end)"), (Args{"prog", "open to the end"}));
  EXPECT_EQ(SplitCommandLine("prog 中文 \"路 径\""), (Args{"prog", "中文", "路 径"}));
  EXPECT_TRUE(SplitCommandLine("").empty());
  EXPECT_TRUE(SplitCommandLine(" \t ").empty());
}

TEST(SplitCommandLine, BackslashesCountOnlyBeforeAQuote) {
  EXPECT_EQ(SplitCommandLine(R"(prog a\\b d"e f"g h)"), (Args{"prog", R"(a\\b)", "de fg", "h"}));
  EXPECT_EQ(SplitCommandLine(R"(prog a\\\"b c d)"), (Args{"prog", R"(a\"b)", "c", "d"}));
  EXPECT_EQ(SplitCommandLine(R"(prog a\\\\"b c" d e)"), (Args{"prog", R"(a\\b c)", "d", "e"}));
  EXPECT_EQ(SplitCommandLine(R"(prog \"x\" C:\dir\ tail\\)"),
            (Args{"prog", R"("x")", R"(C:\dir\)", R"(tail\\)"}));
  EXPECT_EQ(SplitCommandLine(R"(prog "C:\Program Files\\" next)"),
            (Args{"prog", R"(C:\Program Files\)", "next"}));
}

TEST(SplitCommandLine, DoubledQuoteInsideQuotesIsLiteralAndStaysQuoted) {
  EXPECT_EQ(SplitCommandLine(R"(prog a"b"" c d)"), (Args{"prog", R"(ab" c d)"}));
  EXPECT_EQ(SplitCommandLine(R"(prog "say ""hi"" now" x)"), (Args{"prog", R"(say "hi" now)", "x"}));
  // Outside quotes the first quote opens and the second closes: nothing is added.
  EXPECT_EQ(SplitCommandLine(R"(prog a""b c)"), (Args{"prog", "ab", "c"}));
}

TEST(SplitCommandLine, ProgramNameTakesQuotesButNoEscapes) {
  EXPECT_EQ(SplitCommandLine(R"("C:\Program Files\x.exe" a)"), (Args{R"(C:\Program Files\x.exe)", "a"}));
  EXPECT_EQ(SplitCommandLine(R"("C:\dir\"x y)"), (Args{R"(C:\dir\x)", "y"}));
  EXPECT_EQ(SplitCommandLine(R"(pro"g a"b c)"), (Args{"prog ab", "c"}));
  EXPECT_EQ(SplitCommandLine("signtool.exe"), (Args{"signtool.exe"}));
}

TEST(QuoteArgument, PlainValuesStayAsTheyAre) {
  for (const char* Value : {"abc", R"(C:\dir\file.exe)", R"(a\\b)", "中文", "/p", "x=y"})
    EXPECT_EQ(QuoteArgument(Value), Value);
}

TEST(QuoteArgument, EveryValueComesBackAsExactlyOneArgument) {
  const std::string Values[] = {"", " ", "a b", "a\tb", "a\nb", R"(a"b)", R"(")", R"("")",
                                R"(a b\)", R"(a b\\)", R"(\" x)", R"(x \\" y)", R"(C:\Program Files\)",
                                "p@ss \"word\" ", "中文 路径\\", R"(\\server\share\a b)"};
  for (const std::string& Value : Values) {
    const std::string Quoted = QuoteArgument(Value);
    EXPECT_EQ(SplitCommandLine("prog " + Quoted + " next"), (Args{"prog", Value, "next"})) << Quoted;
    EXPECT_EQ(SplitCommandLine("prog " + Quoted), (Args{"prog", Value})) << Quoted;
  }
}

TEST(QuoteArgument, RoundTripsGeneratedValues) {
  // Values made only of the characters that matter to the rules, in every kind of run.
  const char Alphabet[] = {'a', ' ', '\t', '"', '\\'};
  std::mt19937 Random(4711);
  std::uniform_int_distribution<int> Pick(0, 4);
  std::uniform_int_distribution<int> Length(0, 12);
  for (int Round = 0; Round < 5000; ++Round) {
    Args Values;
    std::string Line = "prog";
    for (int N = 0; N < 3; ++N) {
      std::string Value;
      for (int I = Length(Random); I > 0; --I) Value += Alphabet[Pick(Random)];
      Values.push_back(Value);
      Line += ' ';
      Line += QuoteArgument(Value);
    }
    Args Expected{"prog"};
    Expected.insert(Expected.end(), Values.begin(), Values.end());
    ASSERT_EQ(SplitCommandLine(Line), Expected) << Line;
  }
}
