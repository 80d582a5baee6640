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
struct Parsed {
  std::string name;
  std::vector<std::string> params;
  bool operator==(const Parsed& o) const { return name == o.name && params == o.params; }
};

// The model's parse (tests/model), with and without a list.
Parsed ModelParse(const std::string& tagText, bool withParams) {
  Parsed r;
  vekmodel::Producer::ExtractTagParams(tagText, r.name, withParams ? &r.params : nullptr);
  return r;
}
}  // namespace

// Random tag texts over blanks, quotes, NULs, high bytes and word bytes: the
// parser agrees with the literal state table, with and without a list.
TEST(Parser, AgreesWithTheModelOnRandomText) {
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
    EXPECT_EQ((Parsed{name, Lines(params)}), ModelParse(text, true));
    TVekPageProducer::ExtractTagParams(text, name, nullptr);
    EXPECT_EQ(name, ModelParse(text, false).name);
  }
}
