// Locale-aware upper-casing, run once in a UTF-8 locale and once in "C"
// (the test list sets the environment for each run); on Windows in the ANSI
// code pages 1251 and 1252 (Wine given a Russian and an English locale).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "TestSupport.h"
#include "TextRoutines.h"

namespace {

// The ANSI code page the Windows run expects, or "" for a POSIX locale.
std::string ExpectedCodePage() {
  const char* codePage = std::getenv("VEK_EXPECT_CODEPAGE");
  return codePage != nullptr ? codePage : "";
}

// A lower-case word and its upper case in the code page the run expects:
// "петля" and "ПЕТЛЯ" in UTF-8 or in code page 1251, "été" and "ÉTÉ" in
// code page 1252.
struct Word {
  std::string Lower, Upper;
};

Word LetterPair() {
  const std::string codePage = ExpectedCodePage();
  if (codePage == "1251") return {"\xef\xe5\xf2\xeb\xff", "\xcf\xc5\xd2\xcb\xdf"};
  if (codePage == "1252") return {"\xe9t\xe9", "\xc9T\xc9"};
  return {"\xd0\xbf\xd0\xb5\xd1\x82\xd0\xbb\xd1\x8f", "\xd0\x9f\xd0\x95\xd0\xa2\xd0\x9b\xd0\xaf"};
}

}  // namespace

// Windows: the user's ANSI code page folds its own letters, byte by byte.
TEST(Locale, AnsiUpperCaseFollowsTheAnsiCodePage) {
  const std::string codePage = ExpectedCodePage();
  if (codePage.empty()) GTEST_SKIP() << "a POSIX locale run";
  ASSERT_EQ(UpperCaseLocaleName(), "cp" + codePage);
  EXPECT_FALSE(UpperCaseLocaleIsUtf8());
  EXPECT_TRUE(UpperCaseAsciiIsPlain());
  const Word w = LetterPair();
  EXPECT_EQ(AnsiUpperCase(w.Lower), w.Upper);
  EXPECT_EQ(AnsiUpperCase(w.Upper), w.Upper);
  EXPECT_EQ(AnsiUpperCase("abc xyz-09"), "ABC XYZ-09");
  EXPECT_EQ(AnsiUpperCase(std::string("a\0b", 3)), std::string("A\0B", 3));
  if (codePage == "1251") {
    EXPECT_EQ(AnsiUpperCase("\xb8\xe0\xb9"), "\xa8\xc0\xb9");  // ё а № -> Ё А №
  } else {
    EXPECT_EQ(AnsiUpperCase("\xe0\xff\xf7"), "\xc0\x9f\xf7");  // à ÿ ÷ -> À Ÿ ÷
  }
}

TEST(Locale, AnsiUpperCaseFollowsTheEnvironmentsLocale) {
  if (!ExpectedCodePage().empty()) GTEST_SKIP() << "a Windows code page run";
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

// A pair opened in lower case closes in upper case where the locale (or
// the code page) folds those letters.
TEST(Locale, PairNamesFoldByTheLocale) {
  const Word w = LetterPair();
  struct P : ScriptedProducer {
    explicit P(const std::string& Name) { state = {{Name, rsPairTag}}; }
  } s(w.Lower);
  const std::string out = s.Run("<#" + w.Lower + "#>b<#/" + w.Upper + "#>c");
  const bool folds = UpperCaseLocaleIsUtf8() || !ExpectedCodePage().empty();
  EXPECT_EQ(out, folds ? "[b]c" : "bc");
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
