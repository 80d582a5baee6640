// The standard tags on hostile templates: faults that once went unreported
// or cost quadratic time, deep nesting, include fan-out, and the limits of a
// render. Each case ends with its output or a clean error naming the place.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "TempDir.h"
#include "VekStdTags.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

// AddressSanitizer's strict string checks (as CI runs them) read the whole
// rest of the text at every strstr call, which makes the producer's scanner,
// and so every parse, quadratic under it: sanitizer builds run the large
// cases at a tenth of their size.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kShrink = 10;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kShrink = 10;
#else
constexpr int kShrink = 1;
#endif
#else
constexpr int kShrink = 1;
#endif

std::string Repeat(const std::string& S, int N) {
  std::string out;
  out.reserve(S.size() * static_cast<size_t>(N));
  for (int i = 0; i < N; ++i) out += S;
  return out;
}

struct TempRoot {
  void Write(const std::string& Name, const std::string& Text) const {
    std::ofstream(dir / Name, std::ios::binary) << Text;
  }
  TTempDir temp{"vek-limits-"};
  fs::path dir = temp.Path();
};

struct Outcome {
  std::string page, error;
};

Outcome Expand(const std::string& Text, const TVekStdTagsOptions& Options, const fs::path& Root,
               const json& Data = json::parse(R"({"a": true, "n": 3, "x": [1]})")) {
  TVekTemplateRoot root(Root);
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, root, std::make_shared<json>(Data), Options);
  try {
    return {tags.RenderText(Text, "page.html"), ""};
  } catch (const EVekTemplateError& e) {
    return {"", e.what()};
  }
}

TVekStdTagsOptions With(std::function<void(TVekStdTagsOptions&)> Set) {
  TVekStdTagsOptions o;
  Set(o);
  return o;
}

}  // namespace

TEST(StdTagsLimits, ReportedFaultsEndCleanly) {
  TempRoot root;
  // 17 templates of about 100 bytes, each including the next one 4 times:
  // 4^16 includes if nothing stopped them.
  for (int i = 0; i < 17; ++i) {
    const std::string next = "f" + std::to_string(i + 1) + ".html";
    root.Write("f" + std::to_string(i) + ".html",
               i == 16 ? "leaf " + Repeat("x", 90)
                       : Repeat("<#include file=\"" + next + "\"#>\n", 4) + "<p>level</p>\n");
  }
  const auto lenient = With([](auto& o) { o.Lenient = true; });
  const auto deep = With([](auto& o) { o.MaxDepth = 1 << 20; });
  const int kLevels = 100000 / kShrink;
  const int kOpeners = 40000 / kShrink, kIfs = 20000 / kShrink;
  const struct {
    const char* what;
    std::string tmpl;
    TVekStdTagsOptions options;
    std::string page;   // expected page, when no error is expected
    std::string error;  // expected part of the error
  } cases[] = {
      // elif and comparisons are part of the language now.
      {"an elif", "<#if missing#>A<#elif n#>B<#else#>C<#/if#>", {}, "B", ""},
      {"a comparison", "<#if n > 2#>x<#/if#>", {}, "x", ""},
      {"a malformed comparison",
       "<#if n > #>x<#/if#>",
       {},
       "",
       "page.html:1:9: <#if n > #>: the condition ends where a value is expected"},
      {"an unclosed tag", "ab<#name", {}, "", "page.html:1:3: \"<#\" without a closing \"#>\""},
      {"an unclosed tag, leniently", "ab<#name", lenient, "ab", ""},
      {"a NUL byte", std::string("a\0<#n#>", 7), {}, "", "page.html:1:2: a NUL byte"},
      {"a NUL byte, leniently", std::string("a\0<#n#>", 7), lenient, "a", ""},
      {"UTF-16", std::string("\xFF\xFE<\0#\0", 6), {}, "", "is UTF-16 (little-endian) text"},
      {"UTF-16 big-endian", std::string("\xFE\xFF\0<", 4), {}, "", "is UTF-16 (big-endian)"},
      {"UTF-32", std::string("\xFF\xFE\0\0<\0\0\0", 8), {}, "", "is UTF-32 (little-endian)"},
      {"Latin-1", "caf\xE9", {}, "", "page.html:1:4: not UTF-8: the byte 0xE9"},
      {"unclosed openers in an if",
       "<#if a#>" + Repeat("<#each x#>y", kOpeners) + "<#/if#>",
       {},
       "",
       "page.html:1:9: <#each x#> has no closing <#/each#>"},
      {"unclosed openers in an if, leniently",
       "<#if a#>" + Repeat("<#each x#>y", kOpeners) + "<#/if#>", lenient, Repeat("y", kOpeners),
       ""},
      {"unclosed ifs",
       Repeat("<#if a#>x", kIfs),
       {},
       "",
       "page.html:1:1: <#if a#> has no closing <#/if#>"},
      {"unclosed ifs, leniently", Repeat("<#if a#>x", kIfs), lenient, Repeat("x", kIfs), ""},
      {"6000 levels",
       Repeat("<#if a#>", 6000) + "z" + Repeat("<#/if#>", 6000),
       {},
       "",
       "page.html:1:2049: pairs nested deeper than 256 (the limit MaxDepth)"},
      {"6000 levels allowed", Repeat("<#if a#>", 6000) + "z" + Repeat("<#/if#>", 6000), deep, "z",
       ""},
      {"100000 levels",
       Repeat("<#if a#>", kLevels) + "z" + Repeat("<#/if#>", kLevels),
       {},
       "",
       "pairs nested deeper than 256"},
      {"100000 levels, leniently", Repeat("<#if a#>", kLevels) + "z" + Repeat("<#/if#>", kLevels),
       lenient, "", "pairs nested deeper than 256"},
      {"100000 levels allowed", Repeat("<#if a#>", kLevels) + "z" + Repeat("<#/if#>", kLevels),
       deep, "z", ""},
      {"100000 unclosed eaches", Repeat("<#each x#>", kLevels), lenient, "", ""},
      {"include fan-out",
       "<#include file=f0.html#>",
       {},
       "",
       "f15.html:1:1: includes nested deeper than 16: page.html -> f0.html -> f1.html"},
      {"include fan-out, by the count",
       "<#include file=f2.html#>",
       {},
       "",
       "more than 10000 includes in one page (the limit MaxIncludes) (included from f"},
      {"include fan-out, by the output", "<#include file=f2.html#>", With([](auto& o) {
         o.MaxIncludes = 1LL << 40;
         o.MaxOutput = 1 << 20;
       }),
       "", "bytes (the limit MaxOutput) (included from"},
      {"include fan-out, by the depth", "<#include file=f0.html#>",
       With([](auto& o) { o.MaxDepth = 5; }), "",
       "f4.html:1:1: pairs, includes and calls nested deeper than 5"},
      {"a small fan-out",
       "<#include file=f15.html#>",
       {},
       Repeat("leaf " + Repeat("x", 90) + "\n", 4) + "<p>level</p>\n",
       ""},
  };
  for (const auto& c : cases) {
    const Outcome o = Expand(c.tmpl, c.options, root.dir);
    if (c.error.empty()) {
      EXPECT_EQ(o.error, "") << c.what;
      EXPECT_EQ(o.page, c.page) << c.what;
    } else {
      EXPECT_NE(o.error.find(c.error), std::string::npos) << c.what << ": " << o.error;
    }
  }
  // The check finds what the render refuses: the first 1,000 unclosed
  // openers, then how many more (a text of faults keeps little of each).
  const auto issues = VekCheckTemplate(Repeat("<#if a#>x", kIfs), "p.html", nullptr);
  ASSERT_EQ(issues.size(), static_cast<size_t>(std::min(kIfs, 1000) + (kIfs > 1000 ? 1 : 0)));
  EXPECT_EQ(issues[999].Column, 999 * 9 + 1);
  if (kIfs > 1000) {
    EXPECT_EQ(issues.back().Message, "and " + std::to_string(kIfs - 1000) +
                                         " more errors after these (the first 1000 are listed)");
  }
  const auto deepIssues =
      VekCheckTemplate(Repeat("<#if a#>", kLevels) + Repeat("<#/if#>", kLevels), "p.html", nullptr);
  ASSERT_EQ(deepIssues.size(), 1u);
  EXPECT_EQ(deepIssues[0].Column, 8 * 256 + 1);
}

// A template larger than MaxTemplateSize is refused with the limit named,
// before it is read: as a page, an include or a layout, by render and check.
TEST(StdTagsLimits, TemplatesLargerThanTheLimitAreRefused) {
  TempRoot root;
  root.Write("big.html", Repeat("<#if a#>", 200));  // 1,600 bytes
  root.Write("small.html", "ok");
  TVekStdTagsOptions o;
  o.MaxTemplateSize = 1000;
  const std::string tooLarge =
      "the template is 1600 bytes, more than 1000 (the limit MaxTemplateSize)";
  const struct {
    std::string tmpl, error;  // error: "" when the page renders
  } cases[] = {
      {Repeat("<#if a#>", 200), "page.html: " + tooLarge},
      {"<#include file=small.html#>", ""},
      {"<#include file=big.html#>", "page.html:1:1: include: big.html: " + tooLarge},
      {"<#extends file=big.html#>", "page.html:1:1: extends: big.html: " + tooLarge},
  };
  for (const auto& c : cases) {
    const Outcome out = Expand(c.tmpl, o, root.dir);
    EXPECT_EQ(out.error, c.error) << c.tmpl.substr(0, 40);
    TVekTemplateRoot r(root.dir);
    const auto issues = VekCheckTemplate(c.tmpl, "page.html", &r, o);
    if (c.error.empty()) {
      EXPECT_TRUE(issues.empty());
    } else {
      ASSERT_FALSE(issues.empty());
      EXPECT_NE(c.error.find(issues[0].Message), std::string::npos) << issues[0].Message;
    }
  }
  TVekTemplateRoot r(root.dir);
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, r, std::make_shared<json>(json::object()), o);
  try {
    tags.Render("big.html");
    FAIL() << "rendered";
  } catch (const EVekTemplateError& e) {
    EXPECT_EQ(e.File(), "big.html");
    EXPECT_EQ(e.Limit(), "MaxTemplateSize");
    EXPECT_EQ(e.Message(), tooLarge);
  }
}

TEST(StdTagsLimits, PairsMatchAsTheProducerMatchesThem) {
  TempRoot root;
  const auto lenient = With([](auto& o) { o.Lenient = true; });
  // Each case leniently gives what the producer alone gives; loudly, the
  // sound ones render the same and the others are refused.
  const struct {
    std::string tmpl, page;
    bool sound;
  } cases[] = {
      // Closing names match in any letter case; a same-named tag of any case
      // opens a level (and here is a value, "IF").
      {"<#if a#>1<#/IF#>2", "12", true},
      {"<#if a#>1<#IF b#>2<#/if#>3<#/if#>4", "1234", false},
      // Crossed pairs: the each closes after the if's end, so inside the if
      // it is a single tag, and its closing tag outside is stray.
      {"<#if a#>X<#each x#>Y<#/if#>Z<#/each#>", "XYZ", false},
      // An else inside an unclosed each belongs to the if around it.
      {"<#if missing#>A<#each x#>B<#else#>C<#/if#>", "C", false},
      {"<#if a#>A<#each x#>B<#/each#><#else#>C<#/if#>", "AB", true},
      {"<#unless a#>A<#else#>B<#else#>C<#/unless#>", "BC", false},
      // An else in an each is the standard tags' own: what an empty list gives.
      {"<#each x#>A<#else#>B<#/each#>", "A", true},
      {"<#if a#><#/if#>x<#each x#><#/each#>", "x", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Expand(c.tmpl, lenient, root.dir).page, c.page) << c.tmpl;
    const Outcome loud = Expand(c.tmpl, {}, root.dir);
    if (c.sound) {
      EXPECT_EQ(loud.page, c.page) << c.tmpl;
    } else {
      EXPECT_NE(loud.error, "") << c.tmpl;
    }
  }
}

TEST(StdTagsLimits, TemplatesAreParsedOnceWhileUnchanged) {
  TempRoot root;
  root.Write("p.html", "<#include file=part.html#><#include file=part.html#>");
  root.Write("part.html", "[<#n#>]");
  TVekTemplateRoot r(root.dir);
  TVekPageProducer producer(nullptr);
  TVekStdTagsOptions o;
  o.Cache = std::make_shared<TVekTemplateCache>();
  TVekStdTags tags(&producer, r, std::make_shared<json>(json{{"n", 1}}), o);
  EXPECT_EQ(tags.Render("p.html"), "[1][1]");
  EXPECT_EQ(tags.Render("p.html"), "[1][1]");
  EXPECT_EQ(o.Cache->Parses(), 2u);  // p.html and part.html
  root.Write("part.html", "(<#n#>) changed");
  EXPECT_EQ(tags.Render("p.html"), "(1) changed(1) changed");
  EXPECT_EQ(o.Cache->Parses(), 3u);
  // Through the producer's entry points, as a web dispatcher expands it.
  TCustomContentProducer* content = &producer;
  root.Write("lead.html", "lead <#n#> tail");
  EXPECT_EQ(content->ContentFromString(tags.Load("lead.html")), "lead 1 tail");
  EXPECT_EQ(content->ContentFromString(tags.Load("lead.html")), "lead 1 tail");
  EXPECT_THROW(content->ContentFromString("other <#title#>"), EVekTemplateError);
}

// Under TVekTrustedFiles a root answers where a template lies and its stamp
// as found before at the same generation: an edit is seen only at a newer
// one (the caller's watcher vouches that none happened in between). Faults
// are looked up again, and an older generation never takes the place of a
// newer one.
TEST(StdTagsLimits, TrustedFilesAreLookedUpOncePerGeneration) {
  TempRoot root;
  root.Write("layout.html", "L[<#block b#><#/block#>]");
  root.Write("p.html",
             "<#extends file=layout.html#><#block b#><#include file=part.html#><#/block#>");
  root.Write("part.html", "<#n#>");
  TVekTemplateRoot r(root.dir);
  TVekPageProducer producer(nullptr);
  TVekStdTagsOptions o;
  o.Cache = std::make_shared<TVekTemplateCache>();
  TVekStdTags tags(&producer, r, std::make_shared<json>(json{{"n", 1}}), o);
  const auto render = [&](uint64_t Generation) {
    const TVekTrustedFiles trusted(r, Generation);
    return tags.Render("p.html");
  };
  EXPECT_EQ(render(1), "L[1]");
  root.Write("part.html", "changed <#n#>");
  root.Write("layout.html", "M[<#block b#><#/block#>]");
  EXPECT_EQ(render(1), "L[1]");  // trusted: not looked at again
  EXPECT_EQ(render(2), "M[changed 1]");
  EXPECT_EQ(tags.Render("p.html"), "M[changed 1]");  // no scope: always looked at
  // A template not found is looked for again within the same generation.
  EXPECT_THROW(
      {
        const TVekTrustedFiles trusted(r, 3);
        tags.Render("q.html");
      },
      EVekPathError);
  root.Write("q.html", "q");
  {
    const TVekTrustedFiles trusted(r, 3);
    EXPECT_EQ(tags.Render("q.html"), "q");
  }
  // A render of an older generation finds the files anew and keeps nothing.
  root.Write("part.html", "third");
  EXPECT_EQ(render(2), "M[third]");
  root.Write("part.html", "fourth");
  EXPECT_EQ(render(3), "M[fourth]");
  root.Write("part.html", "fifth");
  EXPECT_EQ(render(3), "M[fourth]");
  EXPECT_EQ(render(4), "M[fifth]");
}
