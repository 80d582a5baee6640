// Pair tags: ExtractInnerText and the pair step of the expansion.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "TestSupport.h"

namespace {
// OnVekTag answers rsPairTag for tags named x (any case) and y; the pair
// handler answers "[" body "]".
struct PairProducer : ScriptedProducer {
  PairProducer() { state = {{"x", rsPairTag}, {"X", rsPairTag}, {"y", rsPairTag}}; }
};
}  // namespace

TEST(Pairs, BodyGoesRawToThePairHandler) {
  const struct {
    std::string doc, expected;
  } cases[] = {
      {"a<#x#>b<#/x#>c", "a[b]c"},
      {"<#x#>1<#x#>2<#/x#>3<#/x#>4", "[1<#x#>2<#/x#>3]4"},
      {"<#x#>1<#/X a=b#>2", "[1]2"},
      {"<#x#>1<#/ x#>2", "12"},
      {"a<#x#><#/x#>b", "ab"},
      {"<#x#> <#/x#>", "[ ]"},
      {"<#x#>1<#y#>2<#/x#>3<#/y#>4", "[1<#y#>2]34"},
      {"<#x#>a<#X#>b<#/x#>c<#/X#>d", "[a<#X#>b<#/x#>c]d"},
      {"<#x#>a<#/x#><#/x#>b", "[a]b"},
      {"<#x#>a<#x#>b<#/x#>", "a[b]"},
      {"<#x#>a<#y#>b", "ab"},
      {"<#x#>a<#b<#/x#>c", "ac"},  // the unclosed "<#b" swallows the closing tag
      {"<#x#>a<#/x#>b<#", "[a]b"},
      {"<#x#>a<#/x", "a"},
      {"<#x p=1#>\r\n<#\r\n/x\r\n#>", "[\r\n]"},
      {"<#x#>'<#/x#>'", "[']'"},
      {"<#\"x\"#>1<#'/x'#>2", "[1]2"},
  };
  for (const auto& c : cases) {
    PairProducer s;
    EXPECT_EQ(s.Run(c.doc), c.expected) << c.doc;
    EXPECT_EQ(s.RunModel(c.doc), c.expected) << c.doc;
  }
}

TEST(Pairs, PairHandlerGetsTheOpeningTagsNameAndParameters) {
  PairProducer s;
  s.Run("<#x n=3 'a b'#>body<#/X ignored#>");
  ASSERT_EQ(s.calls.size(), 2u);
  EXPECT_EQ(s.calls[1], (Call{"x", {"n=3", "a b"}, "body", true}));
}

TEST(Pairs, PairHandlerStateStopsOrGoesOn) {
  PairProducer s;
  s.pairState = rsStop;
  EXPECT_EQ(s.Run("a<#x#>b<#/x#>c<#z#>"), "a[b]");
  s.pairState = rsPairTag;  // opens nothing after the closing tag
  s.text = {{"z", "Z"}};
  EXPECT_EQ(s.Run("a<#x#>b<#/x#>c<#z#>d<#/z#>e"), "a[b]cZde");
}

TEST(Pairs, WithoutPairHandlerBodyAndClosingTagVanish) {
  TVekPageProducer p(nullptr);
  p.SetOnVekTag([](TObject*, const AnsiString& name, TStrings*, AnsiString& ret, int& st) {
    ret = "<" + name + ">";
    if (name == "x") st = rsPairTag;
  });
  EXPECT_EQ(p.Execute("a<#x#>b<#y#><#/x#>c"), "a<x>c");
}

TEST(Pairs, PairHandlerExceptionReachesTheCaller) {
  TVekPageProducer p(nullptr);
  p.SetOnVekTag(
      [](TObject*, const AnsiString&, TStrings*, AnsiString&, int& st) { st = rsPairTag; });
  p.SetOnVekPairTag([](TObject*, const AnsiString&, TStrings*, const AnsiString&, AnsiString&,
                       int&) { throw std::logic_error("pair failed"); });
  EXPECT_THROW(p.Execute("<#x#>b<#/x#>"), std::logic_error);
}

TEST(Pairs, ExtractInnerTextFindsTheMatchingClosingTag) {
  const struct {
    std::string name, text;
    int pos;
    std::string inner;
    int newPos;
  } cases[] = {
      {"x", "<#x#>b<#/x#>c", 5, "b", 12},
      {"X", "..b<#x#>c<#/x#>d<#/X#>e", 2, "b<#x#>c<#/x#>d", 22},
      {"x", "b<#/y#>", 0, "", 0},
      {"x", "<#/x#>", 0, "", 6},
      {"", "a<##>b<#/#>c<#/#>", 0, "a<##>b<#/#>c", 17},
      {"x", std::string("b\0<#/x#>", 8), 0, "", 0},
  };
  TVekPageProducer p(nullptr);
  for (const auto& c : cases) {
    int pos = c.pos;
    AnsiString inner = "stale";
    p.ExtractInnerText(c.name, c.text.c_str(), pos, inner);
    EXPECT_EQ(inner, c.inner) << c.text;
    EXPECT_EQ(pos, c.newPos) << c.text;
  }
}

TEST(Pairs, ReentrantLoopExpandsTheBodyOncePerRepetition) {
  TVekPageProducer p(nullptr);
  int row = 0;
  p.SetOnVekTag([&](TObject*, const AnsiString& name, TStrings* params, AnsiString& ret, int& st) {
    if (name == "rows" || name == "cols") st = rsPairTag;
    if (name == "i") ret = std::to_string(row);
    if (name == "n") ret = params->Values("v");
  });
  p.SetOnVekPairTag([&](TObject* sender, const AnsiString& name, TStrings* params,
                        const AnsiString& body, AnsiString& ret, int&) {
    const int n = std::stoi(params->Values("n"));
    // The nested expansions overwrite name and params: keep copies.
    const AnsiString tag = name, keep = body;
    for (int k = 1; k <= n; ++k) {
      if (tag == "rows") row = k;
      ret += static_cast<TVekPageProducer*>(sender)->ContentFromString(keep);
    }
  });
  EXPECT_EQ(p.Execute("<#rows n=3#>(<#i#>:<#cols n=2#><#n v=c#><#/cols#>)<#/rows#>!"),
            "(1:cc)(2:cc)(3:cc)!");
}

TEST(Pairs, ReentrantCallInOpeningHandlerOverwritesTheNameThePairUses) {
  TVekPageProducer p(nullptr);
  std::vector<std::string> pairNames;
  p.SetOnVekTag([&](TObject*, const AnsiString& name, TStrings*, AnsiString&, int& st) {
    if (name == "x") {
      p.Execute("<#inner#>");  // leaves the tag name at "inner"
      st = rsPairTag;
    }
  });
  p.SetOnVekPairTag([&](TObject*, const AnsiString& name, TStrings*, const AnsiString& body,
                        AnsiString& ret, int&) {
    pairNames.push_back(name);
    ret = "[" + body + "]";
  });
  EXPECT_EQ(p.Execute("<#x#>a<#/x#>b<#/inner#>c"), "[a<#/x#>b]c");
  EXPECT_EQ(pairNames, std::vector<std::string>{"inner"});
}

TEST(Pairs, DelimiterChangeInTheOpeningHandlerAppliesToTheMatch) {
  TVekPageProducer p(nullptr);
  p.SetOnVekTag([&](TObject*, const AnsiString& name, TStrings*, AnsiString&, int& st) {
    if (name == "x") {
      p.SetVekTagBeg("{");
      p.SetVekTagEnd("}");
      st = rsPairTag;
    }
  });
  p.SetOnVekPairTag([](TObject*, const AnsiString&, TStrings*, const AnsiString& body,
                       AnsiString& ret, int&) { ret = "[" + body + "]"; });
  EXPECT_EQ(p.Execute("<#x#>a<#/x#>b{/x}c{y}"), "[a<#/x#>b]c");
}

// Random templates over a small alphabet of tags, with pairs nested, crossed,
// unclosed and empty: Execute (which remembers tags after a failed match)
// must agree with the model, calls included.
TEST(Pairs, AgreesWithTheModelOnRandomTemplates) {
  const char* pieces[] = {"a",        "<#x#>",       "<#X q=1#>", "<#/x#>", "<#/X#>",  "<#y#>",
                          "<#/y#>",   "<#z#>",       "<#/ x#>",   "<#",     "#>",      "\r\n",
                          "<#/x p#>", "<#x#><#/x#>", "<##>",      "<#/#>",  "<#'x'#>", "b"};
  std::mt19937 rng(12345);
  for (int round = 0; round < 4000; ++round) {
    std::string doc;
    const int n = static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i) doc += pieces[rng() % (sizeof pieces / sizeof *pieces)];
    for (int stopOnPair = 0; stopOnPair < 2; ++stopOnPair) {
      PairProducer s;
      s.state[""] = rsPairTag;
      s.text = {{"z", "Z"}, {"x", "(x)"}};
      s.pairState = stopOnPair ? rsStop : rsContinue;
      const std::string got = s.Run(doc);
      const auto calls = s.calls;
      s.calls.clear();
      ASSERT_EQ(got, s.RunModel(doc)) << doc;
      ASSERT_EQ(calls, s.calls) << doc;
    }
  }
}

// The same from a tag table: an opener never closed makes the loop record
// the tags after it, and the pairs after are matched from the table, whose
// names link each opener to its closer, whichever comes first. Expanded twice,
// so that the second runs from the prepared text's table.
TEST(Pairs, AgreesWithTheModelFromATagTable) {
  const char* pieces[] = {"<#x#>",   "<#X#>",   "<#/x#>",  "<#/X#>", "<#y#>",  "<#/y#>",  "<#//y#>",
                          "<#/#>",   "<##>",    "<#z#>",   "<#/z#>", "<#w1#>", "<#/w1#>", "<#w2#>",
                          "<#/W2#>", "<#//x#>", "<#/ y#>", "a",      "<#"};
  std::mt19937 rng(54321);
  std::string filler;
  for (int i = 0; i < 70; ++i) filler += "<#f#>";  // more tags than a pair step scans
  for (int round = 0; round < 1500; ++round) {
    std::string doc = "<#never#>" + filler;
    const int n = static_cast<int>(rng() % 60);
    for (int i = 0; i < n; ++i) doc += pieces[rng() % (sizeof pieces / sizeof *pieces)];
    PairProducer s;
    s.state = {{"never", rsPairTag}, {"x", rsPairTag},  {"X", rsPairTag},  {"y", rsPairTag},
               {"/", rsPairTag},     {"w1", rsPairTag}, {"w2", rsPairTag}, {"", rsPairTag}};
    s.text = {{"z", "Z"}};
    const std::string model = s.RunModel(doc);
    const auto modelCalls = s.calls;
    for (int pass = 0; pass < 2; ++pass) {
      s.calls.clear();
      ASSERT_EQ(s.Run(doc), model) << doc;
      ASSERT_EQ(s.calls, modelCalls) << doc;
    }
  }
}

// A repeated opener that is never closed: each one degrades to a single tag.
// Done naively, every opener scans to the end and this takes minutes.
TEST(Pairs, ManyUnclosedOpenersStayLinear) {
  std::string doc;
  for (int i = 0; i < 50000; ++i) doc += "<#x#>.<#y#><#/y#>";
  PairProducer s;
  s.state.erase("y");
  s.text = {{"x", "x"}};
  const std::string out = s.Run(doc);
  EXPECT_EQ(out.size(), 100000u);
  EXPECT_EQ(out.substr(0, 6), "x.x.x.");
}
