// Locale-aware upper-casing, run once in a UTF-8 locale and once in "C"
// (the test list sets the environment for each run).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "TestSupport.h"
#include "TextRoutines.h"

TEST(Locale, AnsiUpperCaseFollowsTheEnvironmentsLocale) {
  const char* expectUtf8 = std::getenv("VEK_EXPECT_UTF8");
  ASSERT_NE(expectUtf8, nullptr) << "run through ctest";
  ASSERT_EQ(UpperCaseLocaleIsUtf8(), std::string(expectUtf8) == "1") << UpperCaseLocaleName();
  const std::string loop = "\xd0\xbf\xd0\xb5\xd1\x82\xd0\xbb\xd1\x8f";  // петля
  const std::string LOOP = "\xd0\x9f\xd0\x95\xd0\xa2\xd0\x9b\xd0\xaf";  // ПЕТЛЯ
  EXPECT_EQ(AnsiUpperCase("abc xyz-09"), "ABC XYZ-09");
  EXPECT_EQ(AnsiUpperCase(""), "");
  EXPECT_EQ(AnsiUpperCase(std::string("a\0b", 3)), std::string("A\0B", 3));
  if (UpperCaseLocaleIsUtf8()) {
    EXPECT_EQ(AnsiUpperCase(loop), LOOP);
    EXPECT_EQ(AnsiUpperCase("stra\xc3\x9f"
                            "e \xc3\xa9t\xc3\xa9"),
              "STRA\xc3\x9f"
              "E \xc3\x89T\xc3\x89");
    // Invalid UTF-8 is kept byte for byte, around folded letters.
    EXPECT_EQ(AnsiUpperCase("a\xff"
                            "b\xd0"
                            "c\xe0\x80\x80"
                            "d\xed\xa0\x80"),
              "A\xff"
              "B\xd0"
              "C\xe0\x80\x80"
              "D\xed\xa0\x80");
    EXPECT_EQ(AnsiUpperCase(loop.substr(0, 3)), LOOP.substr(0, 2) + "\xd0");
  } else {
    EXPECT_EQ(AnsiUpperCase(loop), loop) << "a single-byte C locale folds ASCII only";
    EXPECT_EQ(AnsiUpperCase("\xe9\xff"), "\xe9\xff");
  }
}

TEST(Locale, PairNamesFoldByTheLocale) {
  struct P : ScriptedProducer {
    P() { state = {{"\xd0\xbf\xd0\xb5\xd1\x82\xd0\xbb\xd1\x8f", rsPairTag}}; }
  } s;
  const std::string out = s.Run(
      "<#\xd0\xbf\xd0\xb5\xd1\x82\xd0\xbb\xd1\x8f#>b<#/"
      "\xd0\x9f\xd0\x95\xd0\xa2\xd0\x9b\xd0\xaf#>c");
  EXPECT_EQ(out, UpperCaseLocaleIsUtf8() ? "[b]c" : "bc");
}

// A closing tag matches exactly when the upper-cased names agree, whatever
// mix of ASCII, other letters and stray bytes they hold.
TEST(Locale, ClosingNamesMatchExactlyWhenUpperCasedNamesAgree) {
  const std::string pieces[] = {"a",        "A",        "z",        "Z",    "1",
                                "_",        "\xc3\xa9", "\xc3\x89", "\xff", "\xd0\xbf",
                                "\xd0\x9f", "\xc3\x9f", "i",        "I",    "\xc4\xb1"};
  std::mt19937 rng(7);
  auto name = [&] {
    std::string s;
    for (std::size_t n = 1 + rng() % 4; n > 0; --n)
      s += pieces[rng() % (sizeof pieces / sizeof *pieces)];
    return s;
  };
  TVekPageProducer p(nullptr);
  for (int round = 0; round < 3000; ++round) {
    const std::string open = name();
    const std::string close = rng() % 3 ? AnsiUpperCase(open) : name();
    const std::string text = "body<#/" + close + "#>";
    int pos = 0;
    AnsiString inner;
    p.ExtractInnerText(open, text.c_str(), pos, inner);
    const bool matches = AnsiUpperCase("/" + close) == "/" + AnsiUpperCase(open);
    EXPECT_EQ(inner == "body", matches)
        << testing::PrintToString(open) << " " << testing::PrintToString(close);
    EXPECT_EQ(pos, matches ? static_cast<int>(text.size()) : 0);
  }
}
