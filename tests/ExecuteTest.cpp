// The expansion loop: Execute with single tags.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "TestSupport.h"

namespace {
struct ExpandCase {
  std::string doc;
  std::string expected;
};
}  // namespace

TEST(Execute, ReplacesTagsByTheHandlersText) {
  ScriptedProducer s;
  s.text = {{"title", "Hi"}, {"x", "X"}, {"stop", "S"}, {"seven", "7"}, {"again", "<#title#>"}};
  s.state = {{"stop", rsStop}, {"seven", 7}, {"neg", -1}};
  const ExpandCase cases[] = {
      {"<p><#title#></p>", "<p>Hi</p>"},
      {"no tags at all < # > #", "no tags at all < # > #"},
      {"", ""},
      {"a<#stop#>b<#x#>c", "aS"},
      {"a<#seven#>b<#neg#>c<#x#>", "a7bcX"},
      {"a<#x", "a"},
      {"a<#x#>b<#", "aXb"},
      {"<#x#><#x#>", "XX"},
      {"a<#\r\n  x\r\n#>b", "aXb"},
      {"<#unknown#>", ""},
      {"<#again#>", "<#title#>"},  // a handler's text is not scanned again
      {std::string("a<#x#>b\0<#title#>c", 18), "aXb"},
      {std::string("\0<#x#>", 6), ""},
      {"<#x<#title#>", ""},  // the first closing delimiter ends the tag "x<#title"
  };
  for (const auto& c : cases) {
    EXPECT_EQ(s.Run(c.doc), c.expected) << testing::PrintToString(c.doc);
    EXPECT_EQ(s.RunModel(c.doc), c.expected) << testing::PrintToString(c.doc);
  }
}

TEST(Execute, EmptyDelimiterGivesAnEmptyResult) {
  ScriptedProducer s;
  s.text = {{"x", "X"}};
  s.producer.SetVekTagBeg("");
  EXPECT_EQ(s.Run("plain text"), "");
  s.producer.SetVekTagBeg("<#");
  s.producer.SetVekTagEnd("");
  EXPECT_EQ(s.Run("a<#x#>"), "");
  EXPECT_TRUE(s.calls.empty());
}

TEST(Execute, WithoutHandlerTagsVanish) {
  TVekPageProducer p(nullptr);
  EXPECT_EQ(p.Execute("a<#x#>b"), "ab");
  EXPECT_EQ(p.TagName(), "x");
}

TEST(Execute, HandlerSeesEachTagsNameAndParameters) {
  ScriptedProducer s;
  s.Run("<#a p=1 'q r'#>-<#b#>-<#\"c d\" x=\"1 2\"#>");
  const std::vector<Call> expected = {
      {"a", {"p=1", "q r"}, "", false}, {"b", {}, "", false}, {"c d", {"x=1 2"}, "", false}};
  EXPECT_EQ(s.calls, expected);
}

TEST(Execute, TagFieldsKeepTheLastTagAcrossCallsAndTheEarlyReturn) {
  ScriptedProducer s;
  s.Run("<#first a#><#last b c#>tail");
  EXPECT_EQ(s.producer.TagName(), "last");
  EXPECT_EQ(Lines(*s.producer.TagParams()), (std::vector<std::string>{"b", "c"}));
  s.Run("no tags");
  s.Run("");
  s.producer.SetVekTagEnd("");
  s.Run("<#other#>");
  EXPECT_EQ(s.producer.TagName(), "last");
  EXPECT_EQ(Lines(*s.producer.TagParams()), (std::vector<std::string>{"b", "c"}));
}

TEST(Execute, HandlerExceptionReachesTheCallerAndTheProducerStaysUsable) {
  TVekPageProducer p(nullptr);
  p.SetOnVekTag([](TObject*, const AnsiString& name, TStrings*, AnsiString& ret, int&) {
    if (name == "boom") throw std::runtime_error("handler failed");
    ret = "<" + name + ">";
  });
  EXPECT_THROW(p.Execute("a<#x#>b<#boom p=1#>c<#y#>"), std::runtime_error);
  EXPECT_EQ(p.TagName(), "boom");
  EXPECT_EQ(Lines(*p.TagParams()), std::vector<std::string>{"p=1"});
  EXPECT_EQ(p.Execute("a<#x#>b"), "a<x>b");
}

TEST(Execute, HandlerMayChangeTheDelimitersMidExpansion) {
  TVekPageProducer p(nullptr);
  p.SetOnVekTag([&p](TObject*, const AnsiString& name, TStrings*, AnsiString& ret, int&) {
    ret = "(" + name + ")";
    if (name == "brackets") {
      p.SetVekTagBeg("[");
      p.SetVekTagEnd("]");
    } else if (name == "off") {
      p.SetVekTagBeg("");
    }
  });
  EXPECT_EQ(p.Execute("<#a#><#brackets#>[b]<#c#>[off][d]e"), "(a)(brackets)(b)<#c#>(off)[d]e");
}

TEST(Execute, HandlerMayRunTheSameProducerAgain) {
  TVekPageProducer p(nullptr);
  p.SetOnVekTag([&p](TObject*, const AnsiString& name, TStrings* params, AnsiString& ret, int&) {
    if (name != "twice") {
      ret = name + params->Values("n");
      return;
    }
    // Expands its own parameter, a line of the very list the inner expansion
    // overwrites; the second time that line is already the inner tag's.
    p.SetVekTagBeg("[");
    p.SetVekTagEnd("]");
    ret = p.Execute(params->Get(0));
    ret += p.Execute(params->Get(0));
    p.SetVekTagBeg("<#");
    p.SetVekTagEnd("#>");
  });
  EXPECT_EQ(p.Execute("a<#twice '[v n=1]'#>b<#w#>"), "av1n=1bw");
  EXPECT_EQ(p.TagName(), "w");
}

// Long templates with literal stretches and answers of every length, so that
// the output grows past its reservation and shrinks far below it: the
// expansion agrees byte for byte with the model's.
TEST(Execute, AgreesWithTheModelOnLongRandomTemplates) {
  std::mt19937 rng(31);
  for (int round = 0; round < 200; ++round) {
    std::string doc;
    std::map<std::string, std::string> answers;
    for (int k = 0; k < 8; ++k)
      answers["t" + std::to_string(k)] = std::string(rng() % (k < 4 ? 20 : 3000), 'a' + k);
    for (std::size_t n = rng() % 300; n > 0; --n) {
      doc += std::string(rng() % (rng() % 4 ? 40 : 2000), rng() % 2 ? '<' : 'x');
      doc += "<#t" + std::to_string(rng() % 9) + (rng() % 5 ? "" : " p='q r'") + "#>";
    }
    if (rng() % 4 == 0) doc += "<#unclosed";
    ScriptedProducer s;
    s.text = answers;
    ASSERT_EQ(s.Run(doc), s.RunModel(doc)) << "round " << round;
  }
}
