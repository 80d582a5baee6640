// The HTML context tracker tested directly: the context a value stands in
// after a given literal text, and the escaping it gets there.
#include <gtest/gtest.h>

#include <string>

#include "HtmlContext.h"
#include "HtmlJoin.h"

using namespace vekstd;

namespace {

const char* InnerName(TInner I) {
  switch (I) {
    case TInner::None:
      return "none";
    case TInner::Html:
      return "html";
    case TInner::Comment:
      return "comment";
    case TInner::UrlStart:
      return "url-start";
    case TInner::UrlComponent:
      return "url-part";
    case TInner::JsString:
      return "js-string";
    case TInner::JsValue:
      return "js-value";
    case TInner::JsRegexp:
      return "js-regexp";
    case TInner::Css:
      return "css";
    case TInner::Forbidden:
      return "forbidden";
  }
  return "?";
}

THtmlState After(const std::string& Text) {
  THtmlState state;
  std::string problem;
  HtmlFeed(state, Text.data(), Text.data() + Text.size(), problem);
  return state;
}

// The escaping of a value after the literal Before, as "inner" or
// "inner|quoted" / "inner|unquoted" in an attribute; "refused: ..." when no
// value may stand there or the text itself is refused.
std::string ContextAfter(const std::string& Before, THtmlState state = THtmlState()) {
  std::string problem;
  if (HtmlFeed(state, Before.data(), Before.data() + Before.size(), problem))
    return "refused in text: " + problem;
  const TEscape e = HtmlValueAt(state, problem);
  if (!problem.empty()) return "refused: " + problem;
  std::string out = InnerName(e.Inner);
  if (e.Wrap == TWrap::Quoted) out += "|quoted";
  if (e.Wrap == TWrap::Unquoted) out += "|unquoted";
  return out;
}

}  // namespace

TEST(HtmlContext, ValueContextAfterText) {
  const struct {
    const char* before;
    const char* context;
  } cases[] = {
      // Element text, RCDATA, raw text, comments.
      {"", "html"},
      {"<p>", "html"},
      {"a < b ", "html"},
      {"<title>", "html"},
      {"<textarea></textare", "html"},
      {"<xmp>", "html"},
      {"<!-- ", "comment"},
      {"<!-- -- ", "comment"},
      {"<!-- --!", "comment"},
      {"<!-- --> ", "html"},
      {"<!-- --!> ", "html"},
      {"<!--> ", "html"},
      {"<!---> ", "html"},
      {"<!x ", "comment"},
      {"<?php ", "comment"},
      {"</ x", "comment"},
      {"<plaintext></plaintext><script>", "html"},
      // Inside a tag, outside any value: refused.
      {"<a ", "refused: a value inside a tag must be an attribute's value, as in name=\"<value>\""},
      {"<a title",
       "refused: a value inside a tag must be an attribute's value, as in name=\"<value>\""},
      {"<a title=\"x\"",
       "refused: a value inside a tag must be an attribute's value, as in name=\"<value>\""},
      {"<", "refused: a value inside a tag must be an attribute's value, as in name=\"<value>\""},
      // Attribute values, by quote and kind.
      {"<a title=\"", "none|quoted"},
      {"<a title='", "none|quoted"},
      {"<a title=", "none|unquoted"},
      {"<a title = ", "none|unquoted"},
      {"<a title=x", "none|unquoted"},
      {"<a title=\"x\" alt='", "none|quoted"},
      {"<a title=x/ alt=\"", "none|quoted"},
      {"<iframe srcdoc=\"", "html|quoted"},
      {"<p style=\"color:", "css|quoted"},
      {"<p style='a:\"", "css|quoted"},
      {"<b onclick=\"", "js-value|quoted"},
      {"<b ONCLICK='f(\"", "js-string|quoted"},
      {"<b onclick=f(", "js-value|unquoted"},
      // URLs, by the part reached.
      {"<a href=\"", "url-start|quoted"},
      {"<a href=\" java", "url-start|quoted"},
      {"<a xlink:href='", "url-start|quoted"},
      {"<img src=", "url-start|unquoted"},
      {"<a href=\"/p/", "none|quoted"},
      {"<a href=\"https://e.com/", "none|quoted"},
      {"<a href=\"a_b:", "none|quoted"},  // not a scheme: a relative reference
      {"<a href=\"/s?q=", "url-part|quoted"},
      {"<a href=\"#", "url-part|quoted"},
      {"<a href=\"javascript:",
       "refused: a value in a URL whose scheme is not http, https, mailto or tel"},
      {"<a href=\" JavaScript:",
       "refused: a value in a URL whose scheme is not http, https, mailto or tel"},
      {"<a href=\"data:text/html,",
       "refused: a value in a URL whose scheme is not http, https, mailto or tel"},
      {"<a href=\"x\" title=\"", "none|quoted"},
      // Scripts: strings, comments, template literals, expressions.
      {"<script>", "js-value"},
      {"<script>x = '", "js-string"},
      {"<script>x = '\\'", "js-string"},
      {"<script>x = 'a'; ", "js-value"},
      {"<script>x = \"a\\\"", "js-string"},
      {"<script>x = 'a\n", "js-value"},  // a line break ends a string
      {"<script>// ", "js-string"},
      {"<script>// a\n", "js-value"},
      {"<script>/* ", "js-string"},
      {"<script>/* */", "js-value"},
      {"<script>/* **/ ", "js-value"},
      {"<script>`", "js-string"},
      {"<script>`${", "js-value"},
      {"<script>`${ {a:1} ", "js-value"},
      {"<script>`${ {a:1} }", "js-string"},
      {"<script>`a$", "js-string"},
      {"<script>`$ {", "js-string"},
      {"<script>`a` + ", "js-value"},
      // Right after the start of "</script" a value in a string could end
      // the script.
      {"<script>'</scrip",
       "refused: a value right after \"</scrip\" in a script could complete "
       "\"<!--\", \"-->\", \"<script\" or \"</script\" with the text around it"},
      {"<script></script>", "html"},
      {"<script></SCRIPT >", "html"},
      {"<script>'</scripts>", "js-string"},
      {"<script type=module>", "js-value"},
      // Style sheets.
      {"<style>", "css"},
      {"<style>p{font:\"", "css"},
      {"<style>/* ", "css"},
      {"<style></style>", "html"},
      // A tag's end resets what it held: no carried-over attribute.
      {"<a href=\"x\">", "html"},
      {"<a href=x>", "html"},
      {"<br/>", "html"},
  };
  for (const auto& c : cases) EXPECT_EQ(ContextAfter(c.before), c.context) << c.before;
}

TEST(HtmlContext, TextRefusedWhereItMakesAValueUnsafe) {
  // A ':' right after a value at the start of a URL lets the value choose
  // the scheme; the tracker names the byte.
  THtmlState state;
  std::string problem;
  const std::string before = "<a href=\"";
  HtmlFeed(state, before.data(), before.data() + before.size(), problem);
  HtmlValueAt(state, problem);
  ASSERT_TRUE(problem.empty());
  const std::string after = "x:y\">";
  const char* at = HtmlFeed(state, after.data(), after.data() + after.size(), problem);
  ASSERT_NE(at, nullptr);
  EXPECT_EQ(at - after.data(), 1);
  EXPECT_NE(problem.find("choose the scheme"), std::string::npos);
}

TEST(HtmlContext, EqualPlacesCompareEqual) {
  const struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"<p>", "<div class=x>", true},
      {"<a href=\"x\">", "", true},
      {"<script>", "<script type=module>", true},
      {"<script>", "<style>", false},
      {"<script>'", "<script>\"", false},
      {"<a title=\"", "<a title='", false},
      {"<a title=\"", "<a alt=\"", false},
      {"<textarea>", "<textarea>x", true},  // the dropped line break is no part of the place
  };
  for (const auto& c : cases) {
    THtmlState a, b;
    std::string problem;
    HtmlFeed(a, c.a, c.a + std::char_traits<char>::length(c.a), problem);
    HtmlFeed(b, c.b, c.b + std::char_traits<char>::length(c.b), problem);
    EXPECT_EQ(a == b, c.equal) << c.a << " | " << c.b;
  }
}

// Where a browser reads script differently from plain string-and-comment
// lexing: regular expressions, HTML-like comments, the script data states.
TEST(HtmlContext, ScriptsAsABrowserReadsThem) {
  const std::string slash =
      "refused in text: a '/' here could begin a regular expression or divide";
  const struct {
    const char* before;
    const char* context;
  } cases[] = {
      // A '/' after an operator, '(' or a keyword begins a regexp; after a
      // name, a number, ')' or ']' it divides.
      {"<script>x = /", "js-regexp"},
      {"<script>x = (/", "js-regexp"},
      {"<script>return /", "js-regexp"},
      {"<script>x = typeof /", "js-regexp"},
      {"<script>x = a ? /", "js-regexp"},
      {"<script>x = +/", "js-regexp"},
      {"<script>x = a++ /", "js-value"},
      {"<script>x = a /", "js-value"},
      {"<script>x = a[1] /", "js-value"},
      {"<script>x = (a) /", "js-value"},
      {"<script>x = 42./", "js-value"},
      {"<script>x = returned /", "js-value"},
      {"<script>x = 'a' /", "js-value"},
      // A quote inside a regexp is no string; a '/' inside a class ends nothing.
      {"<script>s.replace(/\"/g, \"x\"); y = ", "js-value"},
      {"<script>x = /[/\"]/; y = ", "js-value"},
      {"<script>x = /a\\/'/; y = ", "js-value"},
      {"<script>x = /a/g; y = ", "js-value"},
      {"<script>x = /a/ / ", "js-value"},
      {"<script>x = /a", "js-regexp"},
      {"<script>x = /[a", "js-regexp"},
      {"<script>x = /a\n", "refused in text: a line break inside a regular-expression literal"},
      // "<!--" anywhere and "-->" at a line's start are line comments.
      {"<script><!-- '", "js-string"},
      {"<script><!-- '\n", "js-value"},
      {"<script>-->'", "js-string"},
      {"<script>x\n  /* c */ -->'", "js-string"},
      {"<script>x-->'", "js-string"},  // x-- > '...
      {"<script>x-->y = ", "js-value"},
      // U+2028 ends a line comment as LF does.
      {"<script>// a\xE2\x80\xA8x = ", "js-value"},
      {"<script>// a\xE2\x80\xA6x = ", "js-string"},
      // Template literals nest.
      {"<script>`${`${`${`${`${`${`${`${`${", "js-value"},
      {"<script>`${`${`${`${`${`${`${`${`${ {} }x", "js-string"},
      // The script data states: inside "<!--", "<script>" hides the next
      // "</script>"; "-->" ends them.
      {"<script><!--</script>", "html"},
      {"<script><!--<script></script>'", "js-string"},
      {"<script><!--<script></script></script>", "html"},
      {"<script><!--<script>--></script>", "html"},
      {"<script><!-- <scripts></script>", "html"},
      {"<script><script></script>", "html"},
      // Right after the start of one of those sequences, a value could
      // complete it: code gets a space first, a string is refused.
      {"<script>x = '<",
       "refused: a value right after \"<\" in a script could complete \"<!--\", "
       "\"-->\", \"<script\" or \"</script\" with the text around it"},
      {"<script>x = a <", "js-value"},
      {"<script>x = 'a-", "js-string"},
      {"<script><!-- x = 'a-",
       "refused: a value right after \"-\" in a script could complete "
       "\"<!--\", \"-->\", \"<script\" or \"</script\" with the text "
       "around it"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ContextAfter(c.before).substr(0, std::char_traits<char>::length(c.context)),
              c.context)
        << c.before;
  }
  EXPECT_EQ(ContextAfter("<script>" + std::string(33, '`').replace(1, 32, "")).substr(0, 1), "j");
  std::string deep = "<script>";
  for (int i = 0; i < 33; ++i) deep += "`${";
  EXPECT_EQ(ContextAfter(deep).rfind("refused in text: template literals nested", 0), 0u);
  (void)slash;
}

// SVG and MathML: tags read as XML reads them, and the attributes of
// animations that set a URL.
TEST(HtmlContext, ForeignContent) {
  const std::string svgCode = "refused: a value in a <script> or <style> inside SVG or MathML";
  const std::string anim = "refused: a value in values, from, to or by of an SVG animation";
  const struct {
    const char* before;
    std::string context;
  } cases[] = {
      {"<svg><script/></svg>", "html"},
      {"<svg><script/><iframe src=\"", "url-start|quoted"},
      {"<svg><script>", svgCode},
      {"<svg><style>", svgCode},
      {"<math><style>", svgCode},
      {"<svg><script></script>", "html"},
      {"<svg/><script>", "js-value"},
      {"<svg><p><script>", "js-value"},  // <p> ends the SVG
      {"<svg><foreignObject><script>", "js-value"},
      {"<svg><foreignObject></foreignObject><script>", svgCode},
      {"<svg><desc><style>", "css"},
      {"<math><mtext><script>", "js-value"},
      {"<svg><svg></svg><script>", svgCode},
      {"<svg></svg><script>", "js-value"},
      {"<svg><title>", "html"},
      {"<svg><textarea>\n", "html"},
      {"<svg><![CDATA[", "html"},
      {"<svg><![CDATA[ ]]> <a href=\"", "url-start|quoted"},
      {"<![CDATA[", "comment"},
      {"<svg><a xlink:href=\"", "url-start|quoted"},
      {"<svg><use href=\"", "url-start|quoted"},
      {"<svg><animate attributeName=\"href\" values=\"", "url-start|quoted"},
      {"<svg><animate attributeName=\"href\" values=\"/a;", "url-start|quoted"},
      {"<svg><animate attributeName=\"href\" values=\"/a", "none|quoted"},
      {"<svg><set attributeName=\"xlink:href\" to=\"", "url-start|quoted"},
      {"<svg><animate attributeName=\"&#104;ref\" from=\"", "url-start|quoted"},
      {"<svg><set attributeName=\"fill\" to=\"", "none|quoted"},
      {"<svg><animate values=\"", anim},
      {"<svg><animate attributeName=href values=a/><animate by=\"", anim},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ContextAfter(c.before).substr(0, c.context.size()), c.context) << c.before;
  }
  EXPECT_EQ(ContextAfter(std::string(17 * 5, ' ')
                             .replace(0, 85,
                                      [] {
                                        std::string s;
                                        for (int i = 0; i < 17; ++i) s += "<svg>";
                                        return s;
                                      }()))
                .rfind("refused in text: SVG and MathML elements nested more than 16 deep", 0),
            0u);
}

// Character references are decoded before the URL, script or style of an
// attribute is read.
TEST(HtmlContext, CharacterReferencesInAttributes) {
  const std::string scheme = "refused: a value in a URL whose scheme is not";
  const struct {
    const char* before;
    std::string context;
  } cases[] = {
      {"<a href=\"java&#115;cript:", scheme},
      {"<a href=\"java&#x73;cript:", scheme},
      {"<a href=\"java&#x73cript:", "none|quoted"},  // U+073C: no scheme
      {"<a href=\"javascript&colon;", scheme},
      {"<a href=\"javascript&#0058;", scheme},
      {"<a href=\"&#x6A;avascript:", scheme},
      {"<a href=\"java&Tab;script:", scheme},
      {"<a href=\"/x?a=1&amp;b=", "url-part|quoted"},
      {"<a href=\"/x?a=1&ampb=", "url-part|quoted"},
      {"<b onclick=\"f(&quot;", "js-string|quoted"},
      {"<b onclick='f(&#34;", "js-string|quoted"},
      {"<b onclick='f(&#x22;a&#x22;, ", "js-value|quoted"},
      {"<b onclick=\"f(&quot)(", "js-string|quoted"},  // legacy: no ';' needed
      {"<b onclick=\"f(&quot=", "js-value|quoted"},    // but not before '='
      {"<b onclick=\"f('&amp;&lt;", "js-string|quoted"},
      {"<b onclick=\"x = a &amp;&amp; /", "js-regexp|quoted"},
      {"<b onclick=\"f(&apos;&apos;) /", "js-value|quoted"},
      {"<b onclick=\"x = 1; &NewLine;-->", "js-string|quoted"},
      {"<b onclick=\"f(&quot", "refused: a value right after \"&quot\" could complete a character"},
      {"<b onclick=\"f(&nosuchref; ", "refused in text: a named character reference"},
      {"<a title=\"&nosuchref; ", "none|quoted"},
      {"<p style=\"font-family:&quot;", "css|quoted"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ContextAfter(c.before).substr(0, c.context.size()), c.context) << c.before;
  }
}

// The ways through a condition join where no later value can tell them apart.
TEST(HtmlContext, WaysThroughAConditionJoin) {
  const struct {
    const char* a;
    const char* b;
    const char* after;    // literal text after the join
    std::string context;  // of a value after that, or the conflict
  } cases[] = {
      // Between the attributes of one tag.
      {"<a href=\"x\"", "<a href=\"x\" class=\"on\"", " title=\"", "none|quoted"},
      {"<input", "<input disabled", "", "refused: a value inside a tag"},
      {"<input", "<input disabled", "> ", "html"},
      {"<input", "<input disabled", " value=", "none|unquoted"},
      {"<a", "<a title=\"t\"", " href=\"", "url-start|quoted"},
      {"<a", "<a title=\"t\"", "href=\"", "refused in text: text right after a condition"},
      {"<a title", "<a", " =\"", "refused in text: an '=' where the ways"},
      {"<script", "<script defer", ">", "js-value"},
      {"<svg><animate attributeName=\"href\"", "<svg><animate attributeName=\"fill\"", " to=\"",
       "refused: a value in values, from, to or by"},
      // One URL: literal text may follow, a value may not, until the query.
      {"<a href=\"/foo?a=b", "<a href=\"/bar", "\">", "html"},
      {"<a href=\"/foo?a=b", "<a href=\"/bar", "", "refused: a value in a URL after ways"},
      {"<a href=\"/foo?a=b", "<a href=\"/bar", "#", "url-part|quoted"},
      {"<a href=\"javascript:x", "<a href=\"/bar", "", "refused: a value in a URL whose scheme"},
      // JavaScript code that differs in what a '/' would be.
      {"<script>x = 1", "<script>", " + ", "js-value"},
      {"<script>x = 1", "<script>", " /2", "refused in text: a '/' here could begin"},
      {"<script>x = 1", "<script>", " /", "refused: a value right after a '/' that could begin"},
      {"<script>x = 1", "<script>", "", "js-value"},
      {"<script>x = a", "<script>", "in /2", "refused in text: a '/' here could begin"},
      {"<b onclick=\"x = 1", "<b onclick=\"", "; y = /", "js-regexp|quoted"},
      // Different places.
      {"<a", "<a title=\"", "",
       "conflict: the name of the tag <a on one way and the value of "
       "the attribute title on another"},
      {"<script>'", "<script>\"", "",
       "conflict: a JavaScript string in '...' in a <script> on "
       "one way and a JavaScript string in \"...\" in a <script> "
       "on another"},
      {"<p>", "<script>", "",
       "conflict: element text on one way and JavaScript code in a "
       "<script> on another"},
      {"<a href=\"x\"", "<a href=\"x\" class=\"on\"", "", "refused: a value inside a tag"},
  };
  for (const auto& c : cases) {
    const THtmlJoin j = JoinHtml(After(c.a), After(c.b));
    std::string got = j.Joined ? "" : "conflict: " + j.Conflict;
    if (j.Joined) {
      THtmlState s = j.State;
      std::string problem;
      if (HtmlFeed(s, c.after, c.after + std::char_traits<char>::length(c.after), problem)) {
        got = "refused in text: " + problem;
      } else {
        got = ContextAfter("", s);
      }
    }
    EXPECT_EQ(got.substr(0, c.context.size()), c.context)
        << c.a << " | " << c.b << " | " << c.after;
  }
}
