// The standard tags: values, each, if/unless/else, include, the strict
// option, delimiters, and the template checker.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "TempDir.h"
#include "VekStdTags.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

// A template root in a fresh temporary directory, with a site/ inside it as
// the root and an outside/ beside it.
class TempSite {
 public:
  TempSite() : base_(dir_.Path()) {
    fs::create_directories(base_ / "site");
    fs::create_directories(base_ / "outside");
    Write("../outside/secret.html", "SECRET");
  }
  void Write(const std::string& Name, const std::string& Text) const {
    const fs::path p = Dir() / Name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << Text;
  }
  fs::path Dir() const { return base_ / "site"; }
  fs::path Base() const { return base_; }

 private:
  TTempDir dir_{"vek-stdtags-"};
  fs::path base_;
};

// Expands Text (as the template "page.html" of Site) with Data.
std::string Render(const std::string& Text, const json& Data = json::object(),
                   TVekStdTagsOptions Options = {}, const TempSite* Site = nullptr) {
  static const TempSite empty;
  TVekTemplateRoot root((Site ? Site : &empty)->Dir());
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, root, std::make_shared<json>(Data), Options);
  return tags.RenderText(Text, "page.html");
}

TVekStdTagsOptions Strict() {
  TVekStdTagsOptions o;
  o.Strict = true;
  return o;
}

TVekStdTagsOptions Lenient() {
  TVekStdTagsOptions o;
  o.Lenient = true;
  return o;
}

// The message of the EVekTemplateError that F throws, or "" when none.
template <class F>
std::string ErrorOf(F&& Call) {
  try {
    Call();
  } catch (const EVekTemplateError& e) {
    return e.what();
  }
  return "";
}

const json kData = json::parse(R"({
  "title": "Tom & Jerry <3",
  "user": {"name": "Zoë", "tags": ["a", "b"], "age": 42, "admin": false},
  "price": 7.5, "zero": 0, "none": null, "empty": "", "yes": true,
  "items": [{"name": "one", "n": 1}, {"name": "two", "n": 2}, {"name": "three"}],
  "matrix": [[1, 2], [3]],
  "quote": "it's \"q\""
})");

}  // namespace

TEST(StdTags, Values) {
  const struct {
    std::string tmpl, expected;
  } cases[] = {
      {"<p><#title#></p>", "<p>Tom &amp; Jerry &lt;3</p>"},
      {"<#title raw#>", "Tom & Jerry <3"},
      {"<#quote#>", "it&#39;s &quot;q&quot;"},
      {"<#user.name#> is <#user.age#>", "Zoë is 42"},
      {"<#user.tags.1#>", "b"},
      {"<#items.0.name#>", "one"},
      {"<#price#>|<#zero#>|<#yes#>|<#user.admin#>|<#none#>|<#empty#>", "7.5|0|true|false||"},
      {"[<#missing#>][<#user.missing#>][<#user.name.x#>][<#items.9.name#>]", "[][][][]"},
      {"[<#user#>][<#items#>]", "[][]"},  // lists and objects are not values
      {"<#@index#><#.#>", ""},            // no list around, and the root is an object
  };
  for (const auto& c : cases) EXPECT_EQ(Render(c.tmpl, kData), c.expected) << c.tmpl;
  // Leniently, tags that make no sense output nothing.
  EXPECT_EQ(Render("a<##>b<#/x#>c<#else#>d", kData, Lenient()), "abcd");
}

// A value tag remembers where it found its member for the next element of
// a loop: elements whose members stand in other orders, lack the member or
// name a member like a path must still give what a fresh look-up gives.
TEST(StdTags, ValuesInLoopsAreFoundWhateverTheElementsLookLike) {
  const json data = json::parse(R"({
    "n": "outer", "b": "outer b",
    "rows": [
      {"n": 1, "m": "x"},
      {"m": "y", "n": -2},
      {"m": "z"},
      {"a.b": "member", "a": {"b": "step"}, "n": 18446744073709551615},
      {"@index": "member", "n": "<&>"},
      "text",
      {"n": 2.5}
    ]})");
  EXPECT_EQ(Render("<#each rows#>[<#n#>|<#m#>|<#a.b#>|<#@index#>]<#/each#>", data),
            "[1|x||0][-2|y||1][outer|z||2][18446744073709551615||step|3]"
            "[&lt;&amp;&gt;|||4][outer|||5][2.5|||6]");
  // A name found in the element for some rows and outside it for others.
  EXPECT_EQ(Render("<#each rows#><#b#>,<#/each#>", data),
            "outer b,outer b,outer b,outer b,outer b,outer b,outer b,");
}

// Values escaped straight into the page: long ones (escaped a piece at a
// time), numbers where they need more than HTML's escaping.
TEST(StdTags, LongAndNumericValuesAreEscapedWhole) {
  std::string longValue, expected;
  for (int i = 0; i < 3000; ++i) {
    longValue += "a<\"'&\r";
    expected += "a&lt;&quot;&#39;&amp;&#13;";
  }
  const json data = {{"v", longValue}, {"n", -42}, {"u", 7}, {"t", true}};
  EXPECT_EQ(Render("<p><#v#></p>", data), "<p>" + expected + "</p>");
  EXPECT_EQ(Render("<a title=\"<#v#>\">", data), "<a title=\"" + expected + "\">");
  EXPECT_EQ(Render("<a title=<#n#> href=\"?q=<#n#>&amp;r=<#t#>\"><#u#><#t#></a>", data),
            "<a title=-42 href=\"?q=-42&amp;r=true\">7true</a>");
  EXPECT_EQ(Render("<script>var n = <#n#>, t = <#t#>;</script>", data),
            "<script>var n =  -42 , t =  true ;</script>");
}

TEST(StdTags, EachExpandsTheBodyPerElementWithTheElementAsScope) {
  const struct {
    std::string tmpl, expected;
  } cases[] = {
      {"<#each items#>[<#@index#>:<#name#>]<#/each#>", "[0:one][1:two][2:three]"},
      // A name missing in the element is looked up in the outer scopes.
      {"<#each items#><#name#>/<#title raw#> <#/each#>",
       "one/Tom & Jerry <3 two/Tom & Jerry <3 three/Tom & Jerry <3 "},
      {"<#each user.tags#><#.#><#unless @last#>,<#/unless#><#/each#>", "a,b"},
      {"<#each items#><#if @first#>first <#/if#><#/each#>", "first "},
      {"<#each matrix#>(<#each .#><#.#>@<#@index#> <#/each#>)<#/each#>", "(1@0 2@1 )(3@0 )"},
      {"<#each items#><#each user.tags#><#name#><#.#> <#/each#><#/each#>",
       "onea oneb twoa twob threea threeb "},
      {"a<#each missing#>x<#/each#>b<#each none#>x<#/each#>c<#each title#>x<#/each#>d", "abcd"},
      {"a<#each items#><#/each#>b", "ab"},
  };
  for (const auto& c : cases) EXPECT_EQ(Render(c.tmpl, kData), c.expected) << c.tmpl;
  // Leniently, without its closing tag the body is output once, in the outer scope.
  EXPECT_EQ(Render("<#each items#>x<#name#>", kData, Lenient()), "x");
}

TEST(StdTags, IfUnlessAndElseFollowTruthiness) {
  const struct {
    std::string name;
    bool truthy;
  } values[] = {
      {"yes", true},      {"title", true},       {"price", true},        {"items", true},
      {"user", true},     {"zero", false},       {"none", false},        {"empty", false},
      {"missing", false}, {"user.admin", false}, {"user.tags.5", false},
  };
  for (const auto& v : values) {
    const std::string t = v.truthy ? "T" : "F";
    const std::string f = v.truthy ? "F" : "T";
    EXPECT_EQ(Render("<#if " + v.name + "#>T<#/if#>", kData), v.truthy ? "T" : "") << v.name;
    EXPECT_EQ(Render("<#unless " + v.name + "#>F<#/unless#>", kData), v.truthy ? "" : "F")
        << v.name;
    EXPECT_EQ(Render("<#if " + v.name + "#>T<#else#>F<#/if#>", kData), t) << v.name;
    EXPECT_EQ(Render("<#unless " + v.name + "#>T<#else#>F<#/unless#>", kData), f) << v.name;
  }
  // The else of a nested pair belongs to that pair.
  EXPECT_EQ(Render("<#if yes#>a<#if zero#>b<#else#>c<#/if#>d<#else#>e<#/if#>", kData), "acd");
  EXPECT_EQ(Render("<#if zero#>a<#if yes#>b<#else#>c<#/if#>d<#else#>e<#/if#>", kData), "e");
  EXPECT_EQ(Render("<#each items#><#if n#><#n#><#else#>-<#/if#><#/each#>", kData), "12-");
}

TEST(StdTags, CustomDelimiters) {
  TVekStdTagsOptions o;
  o.TagBeg = "{{";
  o.TagEnd = "}}";
  EXPECT_EQ(Render("<#title#>{{user.name}}", kData, o), "<#title#>Zoë");
  EXPECT_EQ(Render("{{each items}}{{name}} {{/each}}{{if zero}}x{{else}}y{{/if}}", kData, o),
            "one two three y");
}

TEST(StdTags, StrictRefusesMissingValuesAndMalformedTemplates) {
  const struct {
    std::string tmpl, error;
  } cases[] = {
      {"<#missing#>", "page.html:1:1: no value \"missing\" in the data"},
      {"<#user.nmae#>", "no value \"user.nmae\""},
      {"<#each items#><#nope#><#/each#>", "no value \"nope\""},
      {"<#if missing#>x<#/if#>", "no value \"missing\""},
      {"<#each title#>x<#/each#>", "\"title\" is neither a list nor an object"},
      {"<#items#>", "\"items\" is a list, not a value"},
      {"<#user#>", "\"user\" is an object, not a value"},
      {"a\n <#each items#>x", "page.html:2:2: <#each items#> has no closing <#/each#>"},
      {"a<#x", "page.html:1:2: \"<#\" without a closing \"#>\""},
      {"<#/if#>", "page.html:1:1: closing tag <#/if#> without an opening <#if#>"},
      {"<#title rwa#>", "page.html:1:9: <#title rwa#>: unknown modifier \"rwa\""},
      {"<#user..name#>", "page.html:1:3: <#user..name#>: \"user..name\" is not a name"},
      {"x\n <#each items#>\n  <#name#> <#nope#><#/each#>", "page.html:3:12: no value \"nope\""},
  };
  for (const auto& c : cases) {
    const std::string error = ErrorOf([&] { Render(c.tmpl, kData, Strict()); });
    EXPECT_NE(error.find(c.error), std::string::npos) << c.tmpl << " -> " << error;
  }
  // null counts as a value; the sound template renders.
  EXPECT_EQ(Render("[<#none#>]<#each items#><#name#><#/each#>", kData, Strict()), "[]onetwothree");
}

TEST(StdTags, IncludesResolveFromTheIncludingTemplate) {
  TempSite site;
  site.Write("parts/head.html", "<h1><#title#></h1><#include file=\"inner/x.html\"#>");
  site.Write("parts/inner/x.html", "x<#include file=\"../../top.html\"#>");
  site.Write("top.html", "T");
  site.Write("item.html", "(<#name#>)");
  EXPECT_EQ(Render("<#include file=\"parts/head.html\"#>!", kData, {}, &site),
            "<h1>Tom &amp; Jerry &lt;3</h1>xT!");
  // Inside each, an included template sees the element.
  EXPECT_EQ(Render("<#each items#><#include file=\"item.html\"#><#/each#>", kData, {}, &site),
            "(one)(two)(three)");
  // Further parameters are names inside the included template: quoted text
  // as written, anything else the value at its path where the include stands.
  site.Write("hello.html", "<#greeting#>, <#user.name#> <#title#>");
  EXPECT_EQ(Render("<#include file=hello.html greeting=\"Grüezi\" title='a b'#>", kData, {}, &site),
            "Grüezi, Zoë a b");
  EXPECT_EQ(Render("<#include file=hello.html greeting=user.name title=\"x\"#>", kData, {}, &site),
            "Zoë, Zoë x");
}

TEST(StdTags, IncludesNeverReadOutsideTheRoot) {
  TempSite site;
  site.Write("a.html", "A");
  fs::create_symlink(site.Base() / "outside" / "secret.html", site.Dir() / "link.html");
  fs::create_directory_symlink(site.Base() / "outside", site.Dir() / "linkdir");
  fs::create_symlink("a.html", site.Dir() / "inside.html");  // a link that stays inside is fine
  ASSERT_EQ(mkfifo((site.Dir() / "fifo.html").c_str(), 0600), 0);
  fs::create_directory(site.Dir() / "dir.html");
  const struct {
    std::string ref, error;
  } cases[] = {
      {"../outside/secret.html", "leaves the template root"},
      {"sub/../../outside/secret.html", "leaves the template root"},
      {site.Base().string() + "/outside/secret.html", "an absolute name is not allowed"},
      {"link.html", "leaves the template root through a symbolic link"},
      {"linkdir/secret.html", "leaves the template root through a symbolic link"},
      {"nothing.html", "\"nothing.html\" not found"},
      {"fifo.html", "\"fifo.html\" is not a file"},  // and no hang on opening it
      {"dir.html", "\"dir.html\" is not a file"},
  };
  for (const auto& c : cases) {
    const std::string error =
        ErrorOf([&] { Render("<#include file=\"" + c.ref + "\"#>", kData, {}, &site); });
    EXPECT_NE(error.find("page.html:1:1: include: "), std::string::npos) << c.ref << ": " << error;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.ref << ": " << error;
    EXPECT_EQ(error.find("SECRET"), std::string::npos);
  }
  EXPECT_EQ(Render("<#include file=inside.html#>", kData, {}, &site), "A");
  EXPECT_NE(ErrorOf([&] { Render("<#include#>", kData, {}, &site); }).find("needs the file"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { Render("<#include#>", kData, Lenient(), &site); }).find("without file="),
            std::string::npos);
}

TEST(StdTags, IncludeCyclesAndDepthAreErrors) {
  TempSite site;
  site.Write("a.html", "a<#include file=b.html#>");
  site.Write("b.html", "b<#include file=sub/../a.html#>");
  std::string error = ErrorOf([&] { Render("<#include file=a.html#>", kData, {}, &site); });
  EXPECT_NE(error.find("b.html:1:2: include cycle: page.html -> a.html -> b.html -> a.html "
                       "(included from a.html:1:2, from page.html:1:1)"),
            std::string::npos)
      << error;
  // A template including itself through another name is a cycle too.
  site.Write("self.html", "<#include file=./self.html#>");
  EXPECT_NE(ErrorOf([&] {
              Render("<#include file=self.html#>", kData, {}, &site);
            }).find("include cycle"),
            std::string::npos);

  // A chain of distinct templates: d0 includes d1 ... includes d20.
  for (int i = 0; i < 20; ++i)
    site.Write("d" + std::to_string(i) + ".html",
               "<#include file=d" + std::to_string(i + 1) + ".html#>");
  site.Write("d20.html", "end");
  TVekStdTagsOptions o;
  o.MaxIncludeDepth = 20;
  EXPECT_EQ(Render("<#include file=d1.html#>", kData, o, &site), "end");  // 20 levels
  o.MaxIncludeDepth = 19;
  error = ErrorOf([&] { Render("<#include file=d1.html#>", kData, o, &site); });
  EXPECT_NE(error.find("includes nested deeper than 19"), std::string::npos) << error;
}

// check decides with the options a render is given: a depth limit other
// than the default is met by both, for includes and layouts alike, and a
// cycle two includes down is found by both.
TEST(StdTags, CheckAndRenderAgreeOnTheDepthLimit) {
  TempSite site;
  for (int i = 0; i < 6; ++i) {
    const std::string next = std::to_string(i + 1) + ".html";
    site.Write("i" + std::to_string(i) + ".html", "<#include file=i" + next + "#>");
    site.Write("l" + std::to_string(i) + ".html", "<#extends file=l" + next + "#>");
  }
  site.Write("i6.html", "end");
  site.Write("l6.html", "<#block b#>L<#/block#>");
  site.Write("a.html", "<#include file=b.html#>");
  site.Write("b.html", "b<#include file=a.html#>");
  TVekTemplateRoot root(site.Dir());
  struct TCase {
    std::string page;
    int depth;
    std::string error;  // "" when the page renders
  } cases[] = {
      {"<#include file=i0.html#>", 7, ""},
      {"<#include file=i0.html#>", 6,
       "i5.html:1:1: includes nested deeper than 6: page.html -> i0.html -> i1.html -> i2.html "
       "-> i3.html -> i4.html -> i5.html -> i6.html"},
      {"<#extends file=l0.html#>", 7, ""},
      {"<#extends file=l0.html#>", 6, "l5.html:1:1: layouts extend each other deeper than 6"},
      {"<#include file=a.html#>", 16,
       "b.html:1:2: include cycle: page.html -> a.html -> b.html -> a.html"},
  };
  for (const auto& c : cases) {
    TVekStdTagsOptions o;
    o.MaxIncludeDepth = c.depth;
    const std::string error = ErrorOf([&] { Render(c.page, kData, o, &site); });
    const auto issues = VekCheckTemplate(c.page, "page.html", &root, o);
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.page << " " << c.depth;
    if (c.error.empty()) {
      EXPECT_TRUE(issues.empty()) << c.page << " " << c.depth << ": " << issues[0].Message;
      continue;
    }
    // check tells the same fault at the page's tag.
    ASSERT_EQ(issues.size(), 1u) << c.page << " " << c.depth;
    EXPECT_EQ(issues[0].Line, 1);
    EXPECT_EQ(issues[0].Column, 1);
    EXPECT_NE(issues[0].Message.find(c.error), std::string::npos) << issues[0].Message;
  }
}

// An error's place, include chain, message and limit are fields; what()
// formats them.
TEST(StdTags, ErrorsCarryTheirPlaceInFields) {
  TempSite site;
  site.Write("part.html", "a\n  <#missing#>");
  TVekTemplateRoot root(site.Dir());
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, root, std::make_shared<json>(kData), Strict());
  try {
    tags.RenderText("<p>\n<#include file=part.html#>", "page.html");
    FAIL() << "rendered";
  } catch (const EVekTemplateError& e) {
    EXPECT_EQ(e.File(), "part.html");
    EXPECT_EQ(e.Line(), 2);
    EXPECT_EQ(e.Column(), 3);
    EXPECT_EQ(e.Message(), "no value \"missing\" in the data");
    ASSERT_EQ(e.IncludedFrom().size(), 1u);
    EXPECT_EQ(e.IncludedFrom()[0].File, "page.html");
    EXPECT_EQ(e.IncludedFrom()[0].Line, 2);
    EXPECT_EQ(e.IncludedFrom()[0].Column, 1);
    EXPECT_EQ(e.Limit(), "");
    EXPECT_STREQ(e.what(),
                 "part.html:2:3: no value \"missing\" in the data (included from page.html:2:1)");
  }
  TVekStdTagsOptions o;
  o.MaxOutput = 3;
  try {
    Render("abcd", kData, o);
    FAIL() << "rendered";
  } catch (const EVekTemplateError& e) {
    EXPECT_EQ(e.Limit(), "MaxOutput");
    EXPECT_EQ(e.Line(), 1);
    EXPECT_TRUE(e.IncludedFrom().empty());
  }
  // Without a place, what() is the message.
  const EVekTemplateError plain("no place");
  EXPECT_EQ(plain.File(), "");
  EXPECT_STREQ(plain.what(), "no place");
}

TEST(StdTags, BinderIsReusableAfterAnError) {
  TempSite site;
  site.Write("ok.html", "<#each items#><#name#><#/each#>");
  site.Write("bad.html", "<#each items#><#name#><#include file=../x.html#><#/each#>");
  TVekTemplateRoot root(site.Dir());
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, root, std::make_shared<json>(kData));
  EXPECT_THROW(tags.Render("bad.html"), EVekTemplateError);
  EXPECT_EQ(tags.Render("ok.html"), "onetwothree");
  // Reached through the content-producer interface, as a dispatcher does.
  TCustomContentProducer* content = &producer;
  EXPECT_EQ(content->ContentFromString(tags.Load("ok.html")), "onetwothree");
  EXPECT_THROW(tags.Load("missing.html"), EVekPathError);
}

TEST(StdTags, CheckReportsWhereAndWhat) {
  TempSite site;
  site.Write("part.html", "");
  const struct {
    std::string tmpl;
    std::vector<std::string> issues;  // "line:col: start of message"
  } cases[] = {
      {"<p><#title#></p><#each items#><#name raw#><#if x#>a<#else#>b<#/if#><#/each#>", {}},
      {"<#include file=part.html title=x#>", {}},
      {"ab\n  cd<#x\nyz",
       {"2:5: \"<#\" without a closing \"#>\": the output would stop here, cutting 6 bytes: "
        "\"<#x\\nyz\""}},
      {"<#a <#b#>", {"1:1: this tag holds a further \"<#\""}},
      {"x\r\n<#each items#>a", {"2:1: <#each items#> has no closing <#/each#>"}},
      {"x\r<#if a#>\n<#unless b#>",
       {"2:1: <#if a#> has no closing <#/if#>", "3:1: <#unless b#> has no closing <#/unless#>"}},
      {"<#/each#> <#/IF#>",
       {"1:1: closing tag <#/each#> without an opening <#each#>",
        "1:11: closing tag <#/IF#> without an opening <#if#>"}},
      {"<#/foo#>", {"1:1: unknown closing tag <#/foo#>"}},
      {"<#for x in items#>", {"1:1: unknown tag <#for x in items#>"}},
      {"<#else#><#each a#><#else#><#/each#>", {"1:1: <#else#> outside <#if#>, <#unless#> or"}},
      {"<#if a#><#else#><#else x#><#/if#>",
       {"1:17: <#else#> takes no parameters", "1:17: a second <#else#>"}},
      {"<#each#><#/each#><#if a=1#><#/if#>",
       {"1:1: <#each#> takes one name", "1:24: <#if a=1#>: \"=\" is no comparison"}},
      {"<##>", {"1:1: empty tag <##>"}},
      {"<#include#><#include part.html#>",
       {"1:1: <#include#> needs the file", "1:12: <#include#> needs the file"}},
      {"<#include file=part.html x#>",
       {"1:26: <#include file=part.html x#>: a parameter NAME=VALUE is expected at \"x\""}},
      {"<#include file=../x.html#>\n<#include file=no.html#>",
       {"1:1: include: \"../x.html\" leaves the template root",
        "2:1: include: \"no.html\" not found"}},
      // A body is checked as the producer will expand it, on its own; positions
      // still count from the start of the whole template.
      {"<#each a#>\n  <#if b#>\n    <#/each x#><#/if#>",
       {"2:3: <#if b#> has no closing <#/if#>",
        "3:16: closing tag <#/if#> without an opening <#if#>"}},
      // Bytes of UTF-8 text count one column each; an excerpt never splits a character.
      {"é<#x ééééééééééééééééééééééééééééééééééééééé",
       {"1:3: \"<#\" without a closing \"#>\": the output would stop here, cutting 82 bytes: "
        "\"<#x éééééééééééééééééé\"..."}},
  };
  TVekTemplateRoot root(site.Dir());
  for (const auto& c : cases) {
    const auto issues = VekCheckTemplate(c.tmpl, "page.html", &root);
    std::vector<std::string> got;
    for (const auto& i : issues)
      got.push_back(std::to_string(i.Line) + ":" + std::to_string(i.Column) + ": " + i.Message);
    ASSERT_EQ(got.size(), c.issues.size()) << c.tmpl << "\n" << ::testing::PrintToString(got);
    for (size_t i = 0; i < got.size(); ++i)
      EXPECT_EQ(got[i].rfind(c.issues[i], 0), 0u) << c.tmpl << "\n" << got[i];
  }
  // Other delimiters are checked as such.
  const auto issues = VekCheckTemplate("{{each a}}<#x", "p.html", nullptr, "{{", "}}");
  ASSERT_EQ(issues.size(), 1u);
  EXPECT_EQ(issues[0].Message.rfind("{{each a}} has no closing {{/each}}", 0), 0u);
}

TEST(StdTags, HtmlEscape) {
  EXPECT_EQ(VekHtmlEscape("<a href=\"x\">'&'</a>é"),
            "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;é");
}
