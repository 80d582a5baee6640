// Escaping by HTML context: each place a value can stand, with a value that
// would break out of it; explicit modifiers; the places no value may stand.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "TempDir.h"
#include "VekStdTags.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

struct Site {
  void Write(const std::string& Name, const std::string& Text) const {
    std::ofstream(dir / Name, std::ios::binary) << Text;
  }
  TTempDir temp{"vek-escape-"};
  fs::path dir = temp.Path();
};

// The page of Text with the data {"v": V, ...}, or "error: <message>".
std::string Page(const Site& S, const std::string& Text, const json& V) {
  TVekTemplateRoot root(S.dir);
  TVekPageProducer producer(nullptr);
  json data = {{"v", V}, {"a", true}, {"list", {1, "<b>"}}};
  TVekStdTags tags(&producer, root, std::make_shared<json>(data));
  try {
    return tags.RenderText(Text, "page.html");
  } catch (const EVekTemplateError& e) {
    return std::string("error: ") + e.what();
  }
}

}  // namespace

TEST(StdTagsEscaping, EachContextEscapesForItself) {
  Site site;
  const std::string js = "');alert(1)//";
  const struct {
    std::string tmpl;
    json value;
    std::string expected;
  } cases[] = {
      // Element text and RCDATA.
      {"<p><#v#></p>", "<b>&\"'", "<p>&lt;b&gt;&amp;&quot;&#39;</p>"},
      {"<title><#v#></title>", "</title><script>", "<title>&lt;/title&gt;&lt;script&gt;</title>"},
      {"<textarea><#v#></textarea>", "</textarea>", "<textarea>&lt;/textarea&gt;</textarea>"},
      // The browser drops a line break right after <textarea> or <pre>.
      {"<textarea><#v#></textarea>", "\nx\r", "<textarea>\n\nx&#13;</textarea>"},
      {"<pre><#v#><#v#></pre>", "\n", "<pre>\n\n\n</pre>"},
      {"<textarea><#if a#>x<#/if#><#v#></textarea>", "\n", "<textarea>x\n</textarea>"},
      // Attribute values, by their quotes.
      {"<a title=\"<#v#>\">", "\" onmouseover=x", "<a title=\"&quot; onmouseover=x\">"},
      {"<a title='<#v#>'>", "' onmouseover=x", "<a title='&#39; onmouseover=x'>"},
      {"<a title=<#v#>>", "x onmouseover=f(1)", "<a title=x&#32;onmouseover&#61;f&#40;1&#41;>"},
      {"<a data-x = <#v#> >", "é`", "<a data-x = é&#96; >"},
      // URL attributes: the scheme judged as a browser judges it.
      {"<a href=\"<#v#>\">", "javascript:alert(1)", "<a href=\"about:invalid#vek\">"},
      {"<a href=\"<#v#>\">", " \x01JaVa\tScRiPt:alert(1)", "<a href=\"about:invalid#vek\">"},
      {"<a href=\"<#v#>\">", "data:text/html,<script>", "<a href=\"about:invalid#vek\">"},
      {"<a href=\"<#v#>\">", "vbscript:x", "<a href=\"about:invalid#vek\">"},
      {"<img src=<#v#>>", "javascript:x", "<img src=about&#58;invalid&#35;vek>"},
      {"<a href=\"<#v#>\">", "https://e.com/?a=1&b=2", "<a href=\"https://e.com/?a=1&amp;b=2\">"},
      {"<a href=\"<#v#>\">", "MAILTO:a@b.c", "<a href=\"MAILTO:a@b.c\">"},
      {"<a href=\"<#v#>\">", "tel:+41", "<a href=\"tel:+41\">"},
      {"<a href=\"<#v#>\">", "/rel/a b", "<a href=\"/rel/a b\">"},
      {"<a href=\"<#v#>\">", "&#106;avascript:x", "<a href=\"&amp;#106;avascript:x\">"},
      {"<a href=\"java<#v#>\">", "script:alert(1)", "<a href=\"javaabout:invalid#vek\">"},
      {"<form action=\"/s?q=<#v#>\">", "a b&c=d", "<form action=\"/s?q=a%20b%26c%3Dd\">"},
      {"<a href=\"https://e.com/<#v#>\">", "\"x", "<a href=\"https://e.com/&quot;x\">"},
      {"<a href=\"<#v#><#v#>\">", "javascript", "<a href=\"javascriptjavascript\">"},
      {"<a href=\"<#v#>/<#v#>\">", "x:y", "<a href=\"about:invalid#vek/x:y\">"},
      // Event handlers: JavaScript, then the attribute.
      {"<b onclick=\"f('<#v#>')\">", js, "<b onclick=\"f('\\x27);alert(1)\\/\\/')\">"},
      {"<b onclick='f(\"<#v#>\")'>", "\"\n", "<b onclick='f(\"\\x22\\n\")'>"},
      {"<b onclick=\"f(<#v#>)\">", "1);alert(2", "<b onclick=\"f(&quot;1);alert(2&quot;)\">"},
      {"<b onclick=\"f(<#v#>)\">", 5, "<b onclick=\"f( 5 )\">"},
      // Scripts: strings, template literals, expressions, comments.
      {"<script>s = \"<#v#>\";</script>", "</script><script>",
       "<script>s = \"\\x3C\\/script\\x3E\\x3Cscript\\x3E\";</script>"},
      {"<script>s = '<#v#>'</script>",
       "a\xE2\x80\xA8"
       "b\\",
       "<script>s = 'a\\u2028b\\\\'</script>"},
      {"<script>s = `<#v#>`</script>", "`${f()}", "<script>s = `\\x60\\x24{f()}`</script>"},
      {"<script>s = `a${<#v#>}`</script>", "x", "<script>s = `a${\"x\"}`</script>"},
      {"<script>s = <#v#>;</script>", "</script>'",
       "<script>s = \"\\u003C\\/script\\u003E\\u0027\";</script>"},
      {"<script>s = <#list#>;</script>", nullptr, "<script>s = [1,\"\\u003Cb\\u003E\"];</script>"},
      {"<script>s = <#missing#>;</script>", nullptr, "<script>s = null;</script>"},
      {"<script>// <#v#>\n</script>", "\nalert(1)", "<script>// \\nalert(1)\n</script>"},
      {"<script>/* '<#v#>' */ x = <#v#></script>", "*/",
       "<script>/* '*\\/' */ x = \"*\\/\"</script>"},
      {"<SCRIPT type=module>x='</scrip'; y=<#v#></SCRIPT >", 1,
       "<SCRIPT type=module>x='</scrip'; y= 1 </SCRIPT >"},
      // Style sheets and style attributes.
      {"<style>p{font-family:\"<#v#>\"}</style>", "\"</style>",
       "<style>p{font-family:\"\\22 \\3C \\2F style\\3E \"}</style>"},
      {"<p style=\"color:<#v#>\">", "red;x:url(j)", "<p style=\"color:vek-unsafe-css\">"},
      {"<p style=\"color:<#v#>\">", "#8ff", "<p style=\"color:#8ff\">"},
      // Comments, and an attribute holding a document.
      {"<!-- <#v#> -->", "--><script>", "<!-- &#45;&#45;&gt;&lt;script&gt; -->"},
      {"<iframe srcdoc=\"<#v#>\">", "<b a=\"1\">",
       "<iframe srcdoc=\"&amp;lt;b a=&amp;quot;1&amp;quot;&amp;gt;\">"},
      // After a raw text element and a comment, element text again.
      {"<style>a{}</style><!-- c --><p><#v#>", "<", "<style>a{}</style><!-- c --><p>&lt;"},
      // Explicit modifiers: the language, still inside the attribute.
      {"<p><#v raw#></p>", "<b>", "<p><b></p>"},
      {"<p><#v url#></p>", "a b/c", "<p>a%20b%2Fc</p>"},
      {"<p data-j=\"<#v json#>\">", "x", "<p data-j=\"&quot;x&quot;\">"},
      {"<p><#v js#></p>", "'<", "<p>\\x27\\x3C</p>"},
      {"<p title=<#v attr#>>", "a b", "<p title=a&#32;b>"},
      {"<p><#v css#></p>", "a:b", "<p>a\\3A b</p>"},
      {"<script>x = '<#v html#>'</script>", "<'", "<script>x = '&lt;&#39;'</script>"},
      {"<a <#v raw#>>", "id=1", "<a id=1>"},
      // Where no value can be escaped.
      {"<a <#v#>>", "x",
       "error: page.html:1:4: <#v#>: a value inside a tag must be an attribute's value"},
      {"<<#v#>>", "x", "error: page.html:1:2: <#v#>: a value inside a tag"},
      {"<a href=\"javascript:<#v#>\">", "x",
       "error: page.html:1:21: <#v#>: a value in a URL whose scheme is not"},
      {"<a href=\"<#v#>:x\">", "x",
       "error: page.html:1:15: a ':' after a value at the start of a URL"},
      {"<#if a#><a href=\"<#/if#><#v#>\">", "x",
       "error: page.html:1:1: the HTML context is element text on one way and the start of the URL "
       "in the attribute href on another through <#if a#>"},
      {"<#each list#><p title=\"<#/each#>", "x", "error: page.html:1:1: the HTML context"},
  };
  for (const auto& c : cases) {
    const std::string page = Page(site, c.tmpl, c.value);
    if (c.expected.rfind("error: ", 0) == 0) {
      EXPECT_EQ(page.rfind(c.expected, 0), 0u) << c.tmpl << "\n" << page;
    } else {
      EXPECT_EQ(page, c.expected) << c.tmpl;
    }
  }
}

TEST(StdTagsEscaping, IncludesContinueTheContextTheyStandIn) {
  Site site;
  site.Write("value.html", "<#v#>");
  site.Write("opens.html", "<p title=\"");
  EXPECT_EQ(
      Page(site, "<a title=\"<#include file=value.html#>\"><#include file=value.html#>", "\"<x>"),
      "<a title=\"&quot;&lt;x&gt;\">&quot;&lt;x&gt;");
  EXPECT_EQ(Page(site, "<script>s='<#include file=value.html#>'</script>", "'"),
            "<script>s='\\x27'</script>");
  EXPECT_EQ(
      Page(site, "<#include file=opens.html#>\">", "x")
          .rfind("error: page.html:1:1: include: opens.html begins in element text and ends in the "
                 "value of the attribute title",
                 0),
      0u);
}

TEST(StdTagsEscaping, CheckWarnsOfRawValuesWhereTheyCanRunScript) {
  const auto issues = VekCheckTemplate(
      "<p><#a raw#></p><script><#b raw#></script><a href=\"<#c raw#>\" onclick=\"<#d raw#>\" "
      "style=\"<#e raw#>\"><style><#f raw#></style>",
      "p.html", nullptr);
  std::vector<std::string> got;
  for (const auto& i : issues) {
    EXPECT_TRUE(i.Warning);
    got.push_back(std::to_string(i.Column) + " " + i.Message.substr(0, i.Message.find(':')));
  }
  EXPECT_EQ(got, (std::vector<std::string>{"25 <#b raw#> stands in a script",
                                           "52 <#c raw#> stands in a URL attribute",
                                           "72 <#d raw#> stands in an event handler attribute",
                                           "90 <#e raw#> stands in a style attribute",
                                           "108 <#f raw#> stands in a style sheet"}));
}

// Where the tracker once read a page differently from a browser, so that a
// value ran as script: each is now escaped for where the browser reads it,
// or refused with its place.
TEST(StdTagsEscaping, PlacesABrowserReadsDifferently) {
  Site site;
  const struct {
    std::string tmpl;
    json value;
    std::string expected;
  } cases[] = {
      // A quote inside a regexp literal starts no string.
      {"<script>var e = s => s.replace(/\"/g, \"\\\\x22\"); var u = <#v#>;</script>",
       "alert(document.domain)",
       "<script>var e = s => s.replace(/\"/g, \"\\\\x22\"); var u = \"alert(document.domain)\";"
       "</script>"},
      // A value inside a regexp.
      {"<script>var r = /<#v#>/;</script>", "x/;pwn();//",
       "<script>var r = /x\\x2F\\x3Bpwn\\x28\\x29\\x3B\\x2F\\x2F/;</script>"},
      {"<script>alert(/<#v#>/.test(\"\"));</script>", "",
       "<script>alert(/(?:)/.test(\"\"));</script>"},
      {"<b onclick='alert(/<#v#>/.test(\"\"))'>", "/);pwn();//",
       "<b onclick='alert(/\\x2F\\x29\\x3Bpwn\\x28\\x29\\x3B\\x2F\\x2F/.test(\"\"))'>"},
      {"<script>var r = /a<#v#>/;</script>", "[", "<script>var r = /a\\x5B/;</script>"},
      // Division or regexp after a condition: refused where a '/' follows.
      {"<script><#if a#>var x = 1<#/if#>/-<#v#>/i.test(x)</script>", "/;pwn();//",
       "error: page.html:1:34: a '/' here could begin a regular expression or divide"},
      // The script data escaped states: "<script>" inside "<!--" hides the
      // next "</script>".
      {"<script><!--\nvar s = \"<script></script>\";\nvar y = <#v#>;\n--></script><p><#v#>",
       "</script><img src=x onerror=pwn()>",
       "<script><!--\nvar s = \"<script></script>\";\nvar y = "
       "\"\\u003C\\/script\\u003E\\u003Cimg src=x onerror=pwn()\\u003E\";\n--></script><p>"
       "&lt;/script&gt;&lt;img src=x onerror=pwn()&gt;"},
      {"<script><!--\nvar s = '<#v#>';</script>", "-->",
       "<script><!--\nvar s = '\\x2D\\x2D\\x3E';</script>"},
      {"<script>s = '</scr<#v#>';</script>", "ipt>",
       "error: page.html:1:19: <#v#>: a value right after \"</scr\" in a script could complete"},
      // SVG: <script/> closes itself; animations of href take URLs.
      {"<svg><script/></svg><iframe src=\"<#v#>\"></iframe>", "javascript:parent.pwn()",
       "<svg><script/></svg><iframe src=\"about:invalid#vek\"></iframe>"},
      {"<svg><a><animate attributeName=\"href\" values=\"<#v#>\"/></a></svg>", "javascript:pwn()",
       "<svg><a><animate attributeName=\"href\" values=\"about:invalid#vek\"/></a></svg>"},
      {"<svg><set attributeName=\"xlink:href\" to=\"<#v#>\"/></svg>", "javascript:pwn()",
       "<svg><set attributeName=\"xlink:href\" to=\"about:invalid#vek\"/></svg>"},
      {"<svg><animate values=\"<#v#>\" attributeName=\"href\"/></svg>", "x",
       "error: page.html:1:23: <#v#>: a value in values, from, to or by of an SVG animation"},
      {"<svg><script>x = <#v#></script></svg>", "x",
       "error: page.html:1:18: <#v#>: a value in a <script> or <style> inside SVG or MathML"},
      // Character references are decoded before a scheme is judged.
      {"<img src=\"<#v#>&#58;<#v#>\">", "javascript",
       "error: page.html:1:20: a ':' after a value at the start of a URL"},
      {"<img src=\"java&#115;cript:<#v#>\">", "pwn()",
       "error: page.html:1:27: <#v#>: a value in a URL whose scheme is not"},
      // ... and before an event handler's JavaScript is read.
      {"<button onclick='alert(&quot;<#v#>&quot;)'>", "+pwn()+",
       "<button onclick='alert(&quot;+pwn()+&quot;)'>"},
      {"<button onclick='alert(&quot;<#v#>&quot;)'>", "\");pwn();//",
       "<button onclick='alert(&quot;\\x22);pwn();\\/\\/&quot;)'>"},
      // Template literals nested nine deep.
      {"<script>s = `${`${`${`${`${`${`${`${`${<#v#>}`}`}`}`}`}`}`}`}`</script>", "pwn()",
       "<script>s = `${`${`${`${`${`${`${`${`${\"pwn()\"}`}`}`}`}`}`}`}`}`</script>"},
      // An unquoted value that writes nothing leaves "" in its place: the
      // browser would take the text after it (" title=...") as the value.
      {"<iframe srcdoc=<#v#> title=<#v#>>", "", "<iframe srcdoc=\"\" title=\"\">"},
      {"<iframe srcdoc=<#v#> title=<#v#>>", nullptr, "<iframe srcdoc=\"\" title=\"\">"},
      {"<iframe srcdoc=<#v#> title=<#v#>>", json::array(), "<iframe srcdoc=\"\" title=\"\">"},
      {"<a title=<#v#>>", "t", "<a title=t>"},
      {"<a title=x<#v#>>", "", "<a title=x>"},
      // Values in code never join the word beside them.
      {"<script>x = typeof<#v#>;</script>", nullptr, "<script>x = typeof null ;</script>"},
      {"<script>x = 1 -<#v#>;</script>", -2, "<script>x = 1 - -2 ;</script>"},
  };
  for (const auto& c : cases) {
    const std::string page = Page(site, c.tmpl, c.value);
    if (c.expected.rfind("error: ", 0) == 0) {
      EXPECT_EQ(page.rfind(c.expected, 0), 0u) << c.tmpl << "\n" << page;
    } else {
      EXPECT_EQ(page, c.expected) << c.tmpl;
    }
  }
}

// Conditional attributes: the ways through a condition rejoin between the
// attributes of one tag; values inside them are escaped where they stand.
TEST(StdTagsEscaping, ConditionalAttributes) {
  Site site;
  const struct {
    std::string tmpl;
    std::string expected;
  } cases[] = {
      {"<a href=\"x\"<#if a#> class=\"on\"<#/if#>>", "<a href=\"x\" class=\"on\">"},
      {"<a href=\"x\"<#unless a#> class=\"on\"<#/unless#>>", "<a href=\"x\">"},
      {"<input<#if a#> disabled<#/if#>>", "<input disabled>"},
      {"<input<#if a#> checked<#else#> disabled<#/if#> name=x>", "<input checked name=x>"},
      {"<a<#if a#> title=\"<#v#>\"<#/if#>>", "<a title=\"&quot;&gt;&lt;b&gt;\">"},
      {"<a<#if a#> href=\"<#v#>\"<#/if#> title=\"<#v#>\">",
       "<a href=\"&quot;&gt;&lt;b&gt;\" title=\"&quot;&gt;&lt;b&gt;\">"},
      {"<li<#each list#> class=\"c<#.#>\"<#/each#>>", "<li class=\"c1\" class=\"c&lt;b&gt;\">"},
      {"<a href=\"<#if a#>/foo?a=b<#else#>/bar<#/if#>\">", "<a href=\"/foo?a=b\">"},
      {"<a href=\"<#if a#>/foo?a=b<#else#>/bar<#/if#>#<#v#>\">",
       "<a href=\"/foo?a=b#%22%3E%3Cb%3E\">"},
      // Ways that end inside a value on one way and outside on another.
      {"<a<#if a#> title=\"<#/if#>\">",
       "error: page.html:1:3: the HTML context is the name of the tag <a on one way and the value "
       "of the attribute title on another through <#if a#>"},
      {"<a href=\"<#if a#>/foo?a=b<#else#>/bar<#/if#><#v#>\">",
       "error: page.html:1:45: <#v#>: a value in a URL after ways through a condition that end in "
       "different parts of it"},
      {"<a<#if a#> x<#/if#>=\"1\">",
       "error: page.html:1:20: an '=' where the ways through a "
       "condition end in different places of a tag"},
  };
  for (const auto& c : cases) {
    const std::string page = Page(site, c.tmpl, "\"><b>");
    if (c.expected.rfind("error: ", 0) == 0) {
      EXPECT_EQ(page.rfind(c.expected, 0), 0u) << c.tmpl << "\n" << page;
    } else {
      EXPECT_EQ(page, c.expected) << c.tmpl;
    }
  }
}

// A binary value is markup the caller vouches for: as it is in element
// text or under raw, refused wherever it would need escaping.
TEST(StdTagsEscaping, MarkupValuesStandOnlyInElementText) {
  Site s;
  const std::string html = "<p>a & b</p>";
  const json v = json::binary(std::vector<std::uint8_t>(html.begin(), html.end()));
  const struct {
    const char* Text;
    const char* Want;
  } cases[] = {
      {"<div><#v#></div>", "<div><p>a & b</p></div>"},
      {"<a title=\"<#v raw#>\">", "<a title=\"<p>a & b</p>\">"},
      {"<a title=\"<#v#>\">",
       "error: page.html:1:11: \"v\" is HTML: it may stand only in element "
       "text, not in an attribute value"},
      {"<title><#v#></title>",
       "error: page.html:1:8: \"v\" is HTML: it may stand only in element "
       "text, not in the text of a title, textarea or raw text element"},
      {"<script>x=<#v#></script>", "error: page.html:1:11: \"v\" is HTML"},
      {"<div><#v html#></div>", "error: page.html:1:6: \"v\" is HTML"},
  };
  for (const auto& c : cases) {
    const std::string got = Page(s, c.Text, v);
    EXPECT_EQ(got.substr(0, std::string(c.Want).size()), c.Want) << c.Text << "\n" << got;
  }
}

// Globals: names the data lacks are found there; the data's own win.
TEST(StdTagsEscaping, GlobalsAreTheOutermostScope) {
  Site s;
  TVekTemplateRoot root(s.dir);
  TVekPageProducer producer(nullptr);
  TVekStdTagsOptions options;
  options.Globals = std::make_shared<json>(json{{"site", {{"title", "S"}}}, {"a", "global"}});
  TVekStdTags tags(&producer, root, std::make_shared<json>(json{{"a", "own"}}), options);
  EXPECT_EQ(tags.RenderText("<#site.title#> <#a#> <#missing#>", "page.html"), "S own ");
}
