// The HTML context tracker tested directly: the context a value stands in
// after a given literal text, and the escaping it gets there.
#include <gtest/gtest.h>

#include <string>

#include "HtmlContext.h"

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
    case TInner::Css:
      return "css";
    case TInner::Forbidden:
      return "forbidden";
  }
  return "?";
}

// The escaping of a value after the literal Before, as "inner" or
// "inner|quoted" / "inner|unquoted" in an attribute; "refused: ..." when no
// value may stand there or the text itself is refused.
std::string ContextAfter(const std::string& Before) {
  THtmlState state;
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
      {"<script>'</scrip", "js-string"},
      {"<script></script>", "html"},
      {"<script></SCRIPT >", "html"},
      {"<script></scripts>'", "js-string"},
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
