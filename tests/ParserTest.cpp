// Splitting a tag's text: ExtractTagParams.
#include <gtest/gtest.h>

#include <random>

#include "TestSupport.h"

TEST(Parser, SplitsNameAndParameters) {
  const struct {
    std::string text, name;
    std::vector<std::string> params;
  } cases[] = {
      {"include file=\"a b.txt\" x=5 'quoted'", "include", {"file=a b.txt", "x=5", "quoted"}},
      {"  spaced   out  ", "spaced", {"out"}},
      {"a\"b c\"d", "ab c", {"d"}},
      {"\"my tag\" n=1", "my tag", {"n=1"}},
      {"x=\"a\"y='b'", "x=a", {"y=b"}},
      {"t v='it\"s'", "t", {"v=it\"s"}},
      {"t v=\"open ended", "t", {"v=open ended"}},
      {"t v=\"\"", "t", {"v="}},
      {"\"\" t", "t", {}},
      {"", "", {}},
      {" \t\r\n ", "", {}},
      {"a\tb\nc\rd\x01"
       "e",
       "a",
       {"b", "c", "d", "e"}},
      {"x = 5", "x", {"=", "5"}},
      {"x=\" a \"", "x=a", {}},
      {"t \"a\"\"b\"", "t", {"a", "b"}},
      {"t a=1 a=1", "t", {"a=1", "a=1"}},
      {"t \"  \"", "t", {}},
      {"t 'x", "t", {"x"}},
      {"t \"", "t", {}},
      {"\xd0\xbf\xd0\xb5\xd1\x82\xd0\xbb\xd1\x8f n=\x80\xa0",
       "\xd0\xbf\xd0\xb5\xd1\x82\xd0\xbb\xd1\x8f",
       {"n=\x80\xa0"}},
      {"t a\xa0"
       "b",
       "t",
       {"a\xa0"
        "b"}},
      {std::string("ab\0cd", 5), "", {}},
      {std::string("t x\0y z", 7), "t", {}},
      {std::string("t \"a\0b", 6), "t", {std::string("a\0b", 3)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    AnsiString name = "stale";
    TStringList params;
    params.Add("stale");
    TVekPageProducer::ExtractTagParams(c.text, name, &params);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(Lines(params), c.params);
  }
}

TEST(Parser, WithoutAListStopsAtTheName) {
  AnsiString name;
  TVekPageProducer::ExtractTagParams("loop n=3", name, nullptr);
  EXPECT_EQ(name, "loop");
  TVekPageProducer::ExtractTagParams("'' \"a b\" c", name, nullptr);
  EXPECT_EQ(name, "a b");
}

TEST(Parser, TagTextMayBeOneOfTheOutputs) {
  AnsiString s = "name p=1";
  TStringList params;
  TVekPageProducer::ExtractTagParams(s, s, &params);
  EXPECT_EQ(s, "name");
  EXPECT_EQ(Lines(params), std::vector<std::string>{"p=1"});
  params.SetText("inner a b");
  AnsiString name;
  TVekPageProducer::ExtractTagParams(params[0], name, &params);
  EXPECT_EQ(name, "inner");
  EXPECT_EQ(Lines(params), (std::vector<std::string>{"a", "b"}));
}

namespace {
// The tokenizer written literally as its state table, one byte at a time over
// S = the trimmed text followed by one space: what the parser must match.
struct Parsed {
  std::string name;
  std::vector<std::string> params;
  bool operator==(const Parsed& o) const { return name == o.name && params == o.params; }
};

std::string TrimBlanks(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

Parsed ReferenceParse(const std::string& tagText, bool withParams) {
  Parsed r;
  const std::string S = TrimBlanks(tagText) + " ";
  enum { kBetween, kWord, kQuoted } state = kBetween;
  char q = 0;
  std::size_t start = 0, stop = 0;
  std::string prefix;
  bool done = false;
  auto emit = [&] {
    std::string value;
    if (!(start >= S.size() || start > stop)) value = TrimBlanks(S.substr(start, stop - start + 1));
    value = prefix + value;
    prefix.clear();
    if (value.empty()) return;
    if (r.name.empty())
      r.name = value;
    else if (withParams)
      r.params.push_back(value);
    if (!withParams) done = true;
  };
  std::size_t i = 0;
  for (; i < S.size() && S[i] != '\0' && !done; ++i) {
    const auto c = static_cast<unsigned char>(S[i]);
    const bool blank = c <= 32, quote = c == '\'' || c == '"';
    if (state == kBetween) {
      if (quote) {
        start = i, q = S[i], state = kQuoted;
      } else if (!blank) {
        start = i, state = kWord;
      }
    } else if (state == kWord) {
      if (quote) {
        prefix = TrimBlanks(S.substr(start, i - start));
        start = i, q = S[i], state = kQuoted;
      } else if (blank) {
        stop = i - 1, state = kBetween;
        emit();
      }
    } else if (S[i] == q) {
      start = start + 1, stop = i - 1, state = kBetween;
      emit();
    }
  }
  if (!done && state == kQuoted) {
    start = start + 1, stop = S.size() - 1;
    emit();
  }
  return r;
}
}  // namespace

// Random tag texts over blanks, quotes, NULs, high bytes and word bytes: the
// parser agrees with the literal state table, with and without a list.
TEST(Parser, AgreesWithTheStateTableOnRandomText) {
  const char alphabet[] = {' ', '\t', 'a', 'b', '=', '"', '\'', '\0', '\xff', '\n', '\x01', 'Z'};
  std::mt19937 rng(99);
  for (int round = 0; round < 20000; ++round) {
    std::string text(rng() % 24, ' ');
    const std::size_t letters = 3 + rng() % 10;
    for (char& c : text) c = alphabet[rng() % letters];
    SCOPED_TRACE(testing::PrintToString(text));
    AnsiString name = "stale";
    TStringList params;
    params.Add("stale");
    TVekPageProducer::ExtractTagParams(text, name, &params);
    EXPECT_EQ((Parsed{name, Lines(params)}), ReferenceParse(text, true));
    TVekPageProducer::ExtractTagParams(text, name, nullptr);
    EXPECT_EQ(name, ReferenceParse(text, false).name);
  }
}
