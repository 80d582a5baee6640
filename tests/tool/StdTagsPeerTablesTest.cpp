// The contexts of a peer's published escaping tables (Go's html/template,
// escape_test.go: the templates it escapes, and those it refuses as
// ambiguous), written again in the standard tags, each with the output we
// give. Where we differ from the peer by design, the case says why; the list
// is in docs/escaping.md. Every value here is also replaced by attack strings
// in a browser (tests/browser/escaping_cases_test.js).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "VekStdTags.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

// The peer's data set, in its spirit: markup in strings, a list, numbers,
// booleans, null, and the URLs and style values its cases use.
const char* const kData =
    R"json({"F": false, "T": true, "C": "<Cincinatti>", "G": "<Goodbye>", "H": "<Hello>", "A": ["<a>", "<b>"], "E": [], "N": 42, "Z": null, "Q": "'a<b'", "U1": "/foo/bar?a=b&c=d", "U2": "http://example.com/foo/bar?a=b&c=d", "U3": "//example.com:8000/foo/bar?a=b&c=d", "U4": "/javascript:80/foo/bar", "U5": "javascript:alert(%22pwned%22)", "U6": "mailto:Muhammed \"The Greatest\" Ali <m.ali@example.com>", "U7": "javascript:80", "R": "foo+bar", "EMPTY": "", "LTR": "ltr", "LEFT": "left", "RIGHT": "right", "EXPR": "expression(alert(1337))", "P": "p", "ID": "#my-ID", "CLS": ".my_class", "EM": "2em", "ZERO": 0, "PCT": "100%", "C8FF": "#8ff", "C000": "#000", "EXPR2": "  e\\78preS\u0000Sio/**/n(alert(1337))", "MOZ": "-moz-binding(alert(1337))", "TNR": "Times New Roman", "IMG": "O'Reilly Animal(1)<2>.png", "JS": "javascript:alert(1337)", "VB": "vbscript:alert(1337)", "GOODURL": "http://oreilly.com/O'Reilly Animals(1)<2>;{}.html", "AMPURL": "/search?img=foo&size=icon", "PAIR": "color: red", "SPECIALS": "/**/'\";:// \\", "DOLLAR": "10$", "TAGSRC": "script src,evil.org/pwnd.js", "ENDTA": "/textarea ", "ATTR": "onclick", "SRCSET": "/a.png 1x, /b.png 2x", "SRCBAD": "/a.png 1x, javascript:alert(1) 2x"})json";

struct TCase {
  const char* Name;
  std::string Template;
  std::string Expected;  ///< the page, or "error: " and the start of the message
  const char* Why;       ///< where we differ from the peer by design
};

std::string Render(const std::string& Text) {
  char tmpl[] = "/tmp/vek-peer-XXXXXX";
  if (!mkdtemp(tmpl)) return "error: mkdtemp";
  const fs::path dir = tmpl;
  std::string page;
  {
    TVekTemplateRoot root(dir);
    TVekPageProducer producer(nullptr);
    TVekStdTags tags(&producer, root, std::make_shared<json>(json::parse(kData)));
    try {
      page = tags.RenderText(Text, "page.html");
    } catch (const EVekTemplateError& e) {
      page = std::string("error: ") + e.what();
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return page;
}

void Check(const std::vector<TCase>& Cases) {
  for (const TCase& c : Cases) {
    const std::string page = Render(c.Template);
    if (c.Expected.rfind("error: ", 0) == 0) {
      EXPECT_EQ(page.substr(0, c.Expected.size()), c.Expected) << c.Name << ": " << c.Template;
    } else {
      EXPECT_EQ(page, c.Expected) << c.Name << ": " << c.Template;
    }
  }
}

}  // namespace

// The peer's escaped templates: element text, attributes, URLs, JavaScript
// values, strings and regexps, CSS values, strings and url(), comments.
TEST(StdTagsPeerTables, ContextsThePeerEscapes) {
  Check({
      {"if", "<#if T#>Hello<#/if#>, <#C#>!", "Hello, &lt;Cincinatti&gt;!", ""},
      {"else", "<#if F#><#H#><#else#><#G#><#/if#>!", "&lt;Goodbye&gt;!", ""},
      {"overescaping html modifier", "Hello, <#C html#>!", "Hello, &lt;Cincinatti&gt;!", ""},
      {"each body", "<#each A#><#.#><#/each#>", "&lt;a&gt;&lt;b&gt;", ""},
      {"each empty", "<#each E#><#.#><#/each#>", "", ""},
      {"number value", "<#N#>", "42", ""},
      {"bool value", "<#T#>", "true", ""},
      {"null value", "<#Z#>", "",
       "a missing or null value is empty text, where the peer writes <no value>"},
      {"literal in a query", "<a href=\"/search?q=<#Q#>\">", "<a href=\"/search?q=%27a%3Cb%27\">",
       ""},
      {"multiple attributes", "<a b=1 c=<#H#>>", "<a b=1 c=&#60;Hello&#62;>",
       "unquoted: every byte but letters, digits, - _ . as a reference"},
      {"url start relative", "<a href='<#U1#>'>", "<a href='/foo/bar?a=b&amp;c=d'>", ""},
      {"url start absolute", "<a href='<#U2#>'>",
       "<a href='http://example.com/foo/bar?a=b&amp;c=d'>", ""},
      {"url start protocol relative", "<a href='<#U3#>'>",
       "<a href='//example.com:8000/foo/bar?a=b&amp;c=d'>", ""},
      {"url start path javascript:80", "<a href=\"<#U4#>\">", "<a href=\"/javascript:80/foo/bar\">",
       ""},
      {"dangerous url start", "<a href='<#U5#>'>", "<a href='about:invalid#vek'>",
       "the placeholder is about:invalid#vek, which navigates nowhere"},
      {"dangerous url start after blanks", "<a href='  <#U5#>'>", "<a href='  about:invalid#vek'>",
       ""},
      {"non-hierarchical url", "<a href=<#U6#>>",
       "<a "
       "href=mailto&#58;Muhammed&#32;&#34;The&#32;Greatest&#34;&#32;Ali&#32;&#60;m.ali&#64;example."
       "com&#62;>",
       ""},
      {"url path", "<a href='http://<#U7#>/foo'>", "<a href='http://javascript:80/foo'>", ""},
      {"url query", "<a href='/search?q=<#H#>'>", "<a href='/search?q=%3CHello%3E'>", ""},
      {"url fragment", "<a href='/faq#<#H#>'>", "<a href='/faq#%3CHello%3E'>", ""},
      {"url branch", "<a href=\"<#if F#>/foo?a=b<#else#>/bar<#/if#>\">", "<a href=\"/bar\">", ""},
      {"url branch conflict moot", "<a href=\"<#if T#>/foo?a=<#else#>/bar#<#/if#><#C#>\">",
       "<a href=\"/foo?a=%3CCincinatti%3E\">", ""},
      {"url branch conflict", "<a href=\"<#if T#>/foo?a=<#else#>/bar<#/if#><#C#>\">",
       "error: page.html:1:44: <#C#>: a value in a URL after ways through a condition that end in "
       "differe",
       ""},
      {"js string value", "<button onclick='alert(<#H#>)'>",
       "<button onclick='alert(&quot;\\u003CHello\\u003E&quot;)'>",
       "the peer writes \\u003c, we write \\u003C: the same characters"},
      {"js number", "<button onclick='alert(<#N#>)'>", "<button onclick='alert( 42 )'>", ""},
      {"js bool", "<button onclick='alert(<#T#>)'>", "<button onclick='alert( true )'>", ""},
      {"js null", "<button onclick='alert(<#Z#>)'>", "<button onclick='alert( null )'>", ""},
      {"js list in an attribute", "<button onclick='alert(<#A#>)'>",
       "<button onclick='alert([&quot;\\u003Ca\\u003E&quot;,&quot;\\u003Cb\\u003E&quot;])'>", ""},
      {"js list in a script", "<script>alert(<#A#>)</script>",
       "<script>alert([\"\\u003Ca\\u003E\",\"\\u003Cb\\u003E\"])</script>", ""},
      {"js string quoted by a reference", "<button onclick='alert(&quot;<#H#>&quot;)'>",
       "<button onclick='alert(&quot;\\x3CHello\\x3E&quot;)'>", "we escape < as \\x3C in strings"},
      {"js url modifier", "<button onclick='alert(<#C url#>)'>",
       "<button onclick='alert(%3CCincinatti%3E)'>",
       "url gives percent-encoding, then the attribute's escaping; the value is no string literal"},
      {"js regexp", "<button onclick='alert(/<#R#>/.test(\"\"))'>",
       "<button onclick='alert(/foo\\x2Bbar/.test(\"\"))'>",
       "every ASCII punctuation byte as \\xHH, valid with and without the u flag"},
      {"js regexp empty", "<script>alert(/<#EMPTY#>/.test(\"\"));</script>",
       "<script>alert(/(?:)/.test(\"\"));</script>", ""},
      {"js regexp ambiguity ok", "<script><#if T#>var x = 1<#/if#></script>",
       "<script>var x = 1</script>", ""},
      {"js division after value", "<script>x = <#N#> / 2</script>", "<script>x =  42  / 2</script>",
       ""},
      {"js typeof", "<script>x = typeof<#Z#></script>", "<script>x = typeof null </script>", ""},
      {"style keyword", "<p style=\"dir: <#LTR#>\">", "<p style=\"dir: ltr\">", ""},
      {"style property name parts", "<p style=\"border-<#LEFT#>: 0; border-<#RIGHT#>: 1in\">",
       "<p style=\"border-left: 0; border-right: 1in\">", ""},
      {"style expression blocked", "<p style=\"width: <#EXPR#>\">",
       "<p style=\"width: vek-unsafe-css\">", "the marker is vek-unsafe-css"},
      {"style tag selector", "<style><#P#> { color: pink }</style>",
       "<style>p { color: pink }</style>", ""},
      {"style id selector", "<style>p<#ID#> { font: Arial }</style>",
       "<style>p#my-ID { font: Arial }</style>", ""},
      {"style class selector", "<style>p<#CLS#> { font: Arial }</style>",
       "<style>p.my_class { font: Arial }</style>", ""},
      {"style quantity", "<a style=\"left: <#EM#>; top: <#ZERO#>\">",
       "<a style=\"left: 2em; top: 0\">", ""},
      {"style percentage", "<table style=width:<#PCT#>>", "<table style=width:100&#37;>",
       "unquoted attribute: % and the like as references"},
      {"style colours", "<p style=\"color: <#C8FF#>; background: <#C000#>\">",
       "<p style=\"color: #8ff; background: #000\">", ""},
      {"style obfuscated expression", "<p style=\"width: <#EXPR2#>\">",
       "<p style=\"width: vek-unsafe-css\">", ""},
      {"style moz-binding", "<p style=\"<#MOZ#>: ...\">", "<p style=\"vek-unsafe-css: ...\">", ""},
      {"style font name in a string", "<p style='font-family: \"<#TNR#>\"'>",
       "<p style='font-family: \"Times New Roman\"'>", ""},
      {"style font name unquoted", "<p style='font-family: <#TNR#>'>",
       "<p style='font-family: Times New Roman'>", ""},
      {"style url query", "<p style=\"background: url(/img?name=<#IMG#>)\">",
       "<p style=\"background: url(/img?name=O%27Reilly%20Animal%281%29%3C2%3E.png)\">", ""},
      {"style quoted url query", "<p style=\"background: url('/img?name=<#IMG#>')\">",
       "<p style=\"background: url('/img?name=O%27Reilly%20Animal%281%29%3C2%3E.png')\">", ""},
      {"style string with url text", "<p style=\"background: '/img?name=<#IMG#>'\">",
       "<p style=\"background: '/img?name=O\\27 Reilly Animal\\28 1\\29 \\3C 2\\3E .png'\">", ""},
      {"style url bad scheme", "<a style=\"background: url('<#JS#>')\">",
       "<a style=\"background: url('about:invalid#vek')\">", ""},
      {"style string bad scheme", "<a style=\"background: '<#VB#>'\">",
       "<a style=\"background: 'vbscript\\3A alert\\28 1337\\29 '\">",
       "a CSS string is text to us: no browser runs a script from a string in CSS"},
      {"style url good scheme", "<a style=\"background: url('<#GOODURL#>')\">",
       "<a style=\"background: "
       "url('http://oreilly.com/O%27Reilly%20Animals%281%29%3C2%3E;%7B%7D.html')\">",
       ""},
      {"style url in an attribute", "<a style=\"background: url('<#AMPURL#>')\">",
       "<a style=\"background: url('/search?img=foo&amp;size=icon')\">", ""},
      {"style url in a style sheet", "<style>body { background: url('<#AMPURL#>') }</style>",
       "<style>body { background: url('/search?img=foo&size=icon') }</style>", ""},
      {"style url mixed case", "<p style=\"background: URL(#<#H#>)\">",
       "<p style=\"background: URL(#%3CHello%3E)\">", ""},
      {"style property pair", "<a style='<#PAIR#>'>", "<a style='color: red'>", ""},
      {"style string specials",
       "<a style=\"font-family: '<#SPECIALS#>', &quot;<#SPECIALS#>&quot;\">",
       "<a style=\"font-family: '\\2F \\2A \\2A \\2F \\27 \\22 \\3B \\3A \\2F \\2F  \\5C ', "
       "&quot;\\2F \\2A \\2A \\2F \\27 \\22 \\3B \\3A \\2F \\2F  \\5C &quot;\">",
       ""},
      {"style url specials",
       "<a style=\"border-image: url(<#SPECIALS#>), url(&quot;<#SPECIALS#>&quot;), "
       "url('<#SPECIALS#>')\">",
       "<a style=\"border-image: url(/**/%27%22;://%20%5C), url(&quot;/**/%27%22;://%20%5C&quot;), "
       "url('/**/%27%22;://%20%5C')\">",
       ""},
      {"html comment kept", "<b>Hello, <!-- name of world --><#C#></b>",
       "<b>Hello, <!-- name of world -->&lt;Cincinatti&gt;</b>",
       "literal text, comments included, is written as it is: the peer strips comments"},
      {"value in a comment", "<!-- <#H#> -->", "<!-- &lt;Hello&gt; -->",
       "the peer drops the comment and the value with it"},
      {"literal < before a value", "<#DOLLAR#><<#TAGSRC#>",
       "error: page.html:1:12: <#TAGSRC#>: a value inside a tag must be an attribute's value, as "
       "in name=",
       "refused: a value right after '<' would begin a tag; the peer escapes the literal '<'"},
      {"literal </ in textarea", "<textarea><<#ENDTA#>",
       "error: page.html:1:12: <#ENDTA#>: a value right after \"<\" or \"</\" in <textarea> could "
       "end the ele",
       "refused likewise"},
      {"js line comment kept",
       "<script>for (;;) { if (c()) break// foo not a label\nfoo(<#T#>);}</script>",
       "<script>for (;;) { if (c()) break// foo not a label\nfoo( true );}</script>",
       "the peer strips JavaScript comments"},
      {"js html-like comment",
       "<script>before <!-- beep\nbetween\nbefore-->boop\n--> <#H#>\n</script>",
       "<script>before <!-- beep\nbetween\nbefore-->boop\n--> \\x3CHello\\x3E\n</script>", ""},
      {"value in a js line comment", "<script>// <#H#>\nx</script>",
       "<script>// \\x3CHello\\x3E\nx</script>", ""},
      {"value in a js block comment", "<script>/* <#H#> */</script>",
       "<script>/* \\x3CHello\\x3E */</script>", ""},
      {"attribute name from a value", "<input <#ATTR#>=\"x\">",
       "error: page.html:1:8: <#ATTR#>: a value inside a tag must be an attribute's value, as in "
       "name=\"<v",
       "refused: a value where an attribute's name stands; the peer filters names"},
      {"attribute value after name from a value", "<input name=\"<#H#>\" <#if T#>checked<#/if#>>",
       "<input name=\"&lt;Hello&gt;\" checked>", ""},
      {"dynamic attribute kind", "<a href=\"x\" <#if T#>title<#else#>onclick<#/if#>=\"<#H#>\">",
       "error: page.html:1:48: an '=' where the ways through a condition end in different places "
       "of a tag",
       "refused: the attribute's kind would depend on the way through the condition"},
      {"unquoted attribute in a branch", "<input <#if T#>checked<#/if#> name=<#H#>>",
       "<input checked name=&#60;Hello&#62;>", ""},
      {"srcset", "<img srcset=\"<#SRCSET#>\">", "<img srcset=\"/a.png 1x, /b.png 2x\">", ""},
      {"srcset bad", "<img srcset=\"<#SRCBAD#>\">",
       "<img srcset=\"/a.png 1x, about:invalid#vek 2x\">", ""},
      {"meta refresh", "<meta http-equiv=\"refresh\" content=\"0; url=<#JS#>\">",
       "<meta http-equiv=\"refresh\" content=\"0; url=about:invalid#vek\">", ""},
      {"meta refresh good", "<meta http-equiv=\"refresh\" content=\"0; url=<#U2#>\">",
       "<meta http-equiv=\"refresh\" content=\"0; url=http://example.com/foo/bar?a=b&amp;c=d\">",
       ""},
      {"meta refresh blanks around =", "<meta http-equiv=\"refresh\" content=\"0; url = <#JS#>\">",
       "<meta http-equiv=\"refresh\" content=\"0; url = about:invalid#vek\">", ""},
      {"srcset url after #,", "<img srcset=\"/a.png#, <#JS#> 2x\">",
       "<img srcset=\"/a.png#, about:invalid#vek 2x\">", ""},
      {"script type blank", "<script type=\" \"><#H#></script>",
       "<script type=\" \">\"\\u003CHello\\u003E\"</script>", ""},
      {"js block comment", "<button onclick=\"/* <#H#> */\">",
       "<button onclick=\"/* \\x3CHello\\x3E */\">",
       "comments are kept (the peer strips them and the value): the value is string text there, "
       "which cannot end the comment"},
      {"js line comment", "<button onclick=\"// <#H#>\nx()\">",
       "<button onclick=\"// \\x3CHello\\x3E\nx()\">",
       "comments are kept: a line break in the value is written as \\n"},
      {"css comment", "<p style=\"/* <#H#> */\">", "<p style=\"/* \\3C Hello\\3E  */\">",
       "comments are kept: the value is CSS string text there"},
      {"optional attribute", "<img class=\"c\"<#if T#> id=\"<#H#>\"<#/if#> src=\"<#U1#>\">",
       "<img class=\"c\" id=\"&lt;Hello&gt;\" src=\"/foo/bar?a=b&amp;c=d\">", ""},
      {"template literal specials", "<script>var s = `<#H#>${1}<#DOLLAR#>`;</script>",
       "<script>var s = `\\x3CHello\\x3E${1}10\\x24`;</script>", ""},
      {"svg href", "<svg><a xlink:href=\"<#JS#>\"><text>x</text></a></svg>",
       "<svg><a xlink:href=\"about:invalid#vek\"><text>x</text></a></svg>", ""},
      {"svg use href", "<svg><use href=\"<#U1#>\"/></svg>",
       "<svg><use href=\"/foo/bar?a=b&amp;c=d\"/></svg>", ""},
      {"xmp", "<xmp><#H#></xmp>", "<xmp>&lt;Hello&gt;</xmp>", ""},
      {"textarea", "<textarea><#H#></textarea>", "<textarea>&lt;Hello&gt;</textarea>", ""},
      {"title", "<title><#H#></title>", "<title>&lt;Hello&gt;</title>", ""},
      {"srcdoc", "<iframe srcdoc=\"<#H#>\"></iframe>",
       "<iframe srcdoc=\"&amp;lt;Hello&amp;gt;\"></iframe>", ""},
  });
}

// The peer's refusals: ways through a condition or loop that end in different
// places, values where no escaping helps, and what the tracker cannot be
// sure of. We refuse each, and say where.
TEST(StdTagsPeerTables, TemplatesThePeerRefuses) {
  Check({
      {"unclosed if", "<#if T#>", "error: page.html:1:1: <#if T#> has no closing <#/if#>", ""},
      {"tag in an attribute name", "<a <#if T#>href=<#/if#>>",
       "error: page.html:1:4: the HTML context is the tag <a>, between attributes on one way and "
       "right af",
       ""},
      {"ambiguous attribute value", "<a href=<#if T#>\"<#/if#>>",
       "error: page.html:1:9: the HTML context is right after the '=' of the attribute href, "
       "before its v",
       ""},
      {"branches in and out of a tag", "<#if T#><a<#/if#>",
       "error: page.html:1:1: the HTML context is element text on one way and the name of the tag "
       "<a on a",
       ""},
      {"branches in different values", "<a href=\"<#if T#>x\"<#else#>y<#/if#>\">",
       "error: page.html:1:10: the HTML context is the tag <a>, between attributes on one way and "
       "the sta",
       ""},
      {"each body leaves a tag open", "<#each A#><a<#/each#>",
       "error: page.html:1:1: the HTML context is element text on one way and the name of the tag "
       "<a on a",
       ""},
      {"each body opens a value", "<a title=\"<#each A#>\"<#/each#>",
       "error: page.html:1:11: the HTML context is the value of the attribute title on one way and "
       "the ta",
       ""},
      {"value in a tag name", "<<#H#>>",
       "error: page.html:1:2: <#H#>: a value inside a tag must be an attribute's value, as in "
       "name=\"<valu",
       ""},
      {"value as a tag", "<a <#H#>>",
       "error: page.html:1:4: <#H#>: a value inside a tag must be an attribute's value, as in "
       "name=\"<valu",
       ""},
      {"unknown scheme before value", "<a href=\"javascript:<#H#>\">",
       "error: page.html:1:21: <#H#>: a value in a URL whose scheme is not http, https, mailto or "
       "tel",
       ""},
      {"value then colon", "<a href=\"<#H#>:x\">",
       "error: page.html:1:15: a ':' after a value at the start of a URL lets the value choose the "
       "scheme",
       ""},
      {"division or regexp", "<script><#if T#>var x = 1<#/if#>/-<#H#>/i.test(x)</script>",
       "error: page.html:1:34: a '/' here could begin a regular expression or divide, depending on "
       "the wa",
       ""},
      {"value after division or regexp", "<script>var x = <#if T#>1<#/if#>/<#H#></script>",
       "error: page.html:1:34: <#H#>: a value right after a '/' that could begin a regular "
       "expression or ",
       ""},
      {"unterminated regexp", "<script>var x = /foo\n</script>",
       "error: page.html:1:21: a line break inside a regular-expression literal", ""},
      {"conditional script end", "<script><#if T#></script><#/if#>",
       "error: page.html:1:9: the HTML context is JavaScript code in a <script> on one way and "
       "element te",
       ""},
      {"branch ends in a string", "<script>var x = <#if T#>'<#else#>\"<#/if#>;</script>",
       "error: page.html:1:17: the HTML context is a JavaScript string in '...' in a <script> on "
       "one way ",
       ""},
      {"branch into a comment", "<script>var x = 1; <#if T#>/*<#/if#> y = <#H#></script>",
       "error: page.html:1:20: the HTML context is JavaScript code in a <script> on one way and a "
       "JavaScr",
       ""},
      {"url part after branch", "<a href=\"<#if T#>/a?<#else#>/b<#/if#><#H#>\">",
       "error: page.html:1:38: <#H#>: a value in a URL after ways through a condition that end in "
       "differe",
       ""},
      {"style branch into a string", "<p style=\"<#if T#>font: '<#/if#><#H#>\">",
       "error: page.html:1:11: the HTML context is CSS in the attribute style on one way and a CSS "
       "string",
       ""},
      {"value in svg script", "<svg><script><#H#></script></svg>",
       "error: page.html:1:14: <#H#>: a value in a <script> or <style> inside SVG or MathML, whose "
       "text t",
       ""},
      {"equals after branch", "<a<#if T#> x<#/if#>=\"<#H#>\">",
       "error: page.html:1:20: an '=' where the ways through a condition end in different places "
       "of a tag",
       ""},
  });
}
