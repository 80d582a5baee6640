// The template language of the standard tags, construct by construct:
// conditions, modifiers, loops, comments, whitespace and layouts, each with
// what it renders and the errors it reports, by file:line:col.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "TempDir.h"
#include "VekStdTags.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

class TempSite {
 public:
  void Write(const std::string& Name, const std::string& Text) const {
    std::ofstream(Dir() / Name, std::ios::binary) << Text;
  }
  const fs::path& Dir() const { return dir_.Path(); }

 private:
  TTempDir dir_{"vek-lang-"};
};

std::string Repeat(const std::string& S, int N) {
  std::string out;
  for (int i = 0; i < N; ++i) out += S;
  return out;
}

const json kData = json::parse(R"({
  "role": "site admin", "n": 3, "price": 7.5, "total": 1234.5, "big": 12345678901234567890,
  "neg": -0.001, "name": "  zoë smith ", "title": "Tom & Jerry <3", "quote": "it's \"q\"",
  "yes": true, "no": false, "none": null, "empty": "", "word": "hello world", "jp": "日本語",
  "tags": ["a", "b"], "nums": [1, 2], "obj": {"z": 1, "a": 2}, "items": [],
  "list": [{"name": "one"}, {"name": "two"}], "day": "2024-03-05",
  "when": "2024-03-05T14:30:00+02:00", "bad_day": "2024-02-30", "dashed": "a-b-c"
})");

// The page of Text (as page.html of Site), or "error: " and the message.
std::string Render(const std::string& Text, const json& Data = kData, bool Strict = false,
                   const TempSite* Site = nullptr) {
  static const TempSite empty;
  TVekTemplateRoot root((Site ? Site : &empty)->Dir());
  TVekPageProducer producer(nullptr);
  TVekStdTagsOptions o;
  o.Strict = Strict;
  TVekStdTags tags(&producer, root, std::make_shared<json>(Data), o);
  try {
    return tags.RenderText(Text, "page.html");
  } catch (const EVekTemplateError& e) {
    return std::string("error: ") + e.what();
  }
}

// What check reports, one "line:col: message" per finding.
std::vector<std::string> Check(const std::string& Text, const TempSite* Site = nullptr) {
  static const TempSite empty;
  TVekTemplateRoot root((Site ? Site : &empty)->Dir());
  std::vector<std::string> out;
  for (const auto& i : VekCheckTemplate(Text, "page.html", &root))
    out.push_back(std::to_string(i.Line) + ":" + std::to_string(i.Column) + ": " +
                  (i.Warning ? "warning: " : "") + i.Message);
  return out;
}

struct TCase {
  std::string tmpl, expected;
};

// Each case renders as expected; an expected "error: page.html:L:C: text"
// must be the start of the error, and check must report the same place.
void Expect(const std::vector<TCase>& Cases, const TempSite* Site = nullptr) {
  const std::string atRender = " (at render)";  // marks an error that check cannot find
  for (const auto& c : Cases) {
    const std::string got = Render(c.tmpl, kData, false, Site);
    if (c.expected.rfind("error: ", 0) == 0) {
      const bool renderOnly = c.expected.find(atRender) != std::string::npos;
      const std::string expected = c.expected.substr(0, c.expected.find(atRender));
      EXPECT_EQ(got.substr(0, expected.size()), expected) << c.tmpl << "\n" << got;
      // Parse errors are found by check too, at the same line and column.
      const std::string where = expected.substr(7 + 10);  // after "error: page.html:"
      const auto issues = Check(c.tmpl, Site);
      bool found = false;
      for (const auto& i : issues) found |= i.rfind(where, 0) == 0;
      if (!renderOnly) {
        EXPECT_TRUE(found) << c.tmpl << "\n" << ::testing::PrintToString(issues);
      }
    } else {
      EXPECT_EQ(got, c.expected) << c.tmpl;
    }
  }
}

}  // namespace

TEST(StdTagsLanguage, Conditions) {
  Expect({
      {"<#if role == \"site admin\"#>A<#else#>B<#/if#>", "A"},
      {"<#if role == 'guest'#>A<#else#>B<#/if#>", "B"},
      {"<#if quote == \"it's \\\"q\\\"\"#>A<#/if#>", "A"},
      // Numbers compare as numbers, whatever their JSON form.
      {"<#if n > 2#>A<#/if#><#if n >= 3.0#>B<#/if#><#if n == 3.0#>C<#/if#><#if price < "
       "10#>D<#/if#>",
       "ABCD"},
      {"<#if n != 3#>A<#/if#><#if n <= -1#>B<#/if#><#if big > 1e19#>C<#/if#>", "C"},
      // Strings compare byte by byte, so by code point.
      {"<#if \"apple\" < \"banana\"#>A<#/if#><#if \"Z\" < \"a\"#>B<#/if#><#if \"é\" > "
       "\"z\"#>C<#/if#>",
       "ABC"},
      // Mixed types: never equal, never ordered.
      {"<#if n == \"3\"#>A<#/if#><#if n != \"3\"#>B<#/if#><#if n < \"4\"#>C<#/if#>"
       "<#if n >= \"4\"#>D<#/if#>",
       "B"},
      {"<#if missing == null#>A<#/if#><#if none == null#>B<#/if#><#if none != null#>C<#/if#>",
       "AB"},
      {"<#if yes == true#>A<#/if#><#if no == false#>B<#/if#><#if not yes#>C<#/if#>", "AB"},
      // and binds tighter than or; not tighter than and; comparisons tightest.
      {"<#if yes or no and no#>A<#/if#><#if (yes or no) and no#>B<#/if#>", "A"},
      {"<#if not no and n == 3#>A<#/if#><#if not (n == 3)#>B<#/if#><#if not n == 4#>C<#/if#>",
       "AC"},
      {"<#if ((((n))))#>A<#/if#>", "A"},
      // Paths index lists, both spellings.
      {"<#if list[1].name == \"two\" and list.0.name == \"one\"#>A<#/if#>", "A"},
      {"<#unless n > 5#>small<#else#>large<#/unless#>", "small"},
      // A literal may hold blanks and the words of operators.
      {"<#if role != \"a and b or (c\"#>A<#/if#>", "A"},
  });
  // elif: the first branch whose condition holds.
  for (int n = 1; n <= 4; ++n) {
    const char* names[] = {"", "one", "two", "three", "many"};
    EXPECT_EQ(Render("<#if n == 1#>one<#elif n == 2#>two<#elif n == 3#>three<#else#>many<#/if#>",
                     json{{"n", n}}),
              names[n]);
  }
  EXPECT_EQ(Render("<#if n == 1#>one<#elif n == 2#>two<#/if#>.", json{{"n", 5}}), ".");
  // Under --strict, ordering mixed types and missing names are errors.
  EXPECT_EQ(Render("x\n <#if n < \"4\"#>A<#/if#>", kData, true),
            "error: page.html:2:2: <#if n < \"4\"#>: cannot order a number and a string");
  EXPECT_EQ(Render("<#if zzzz == 1#>A<#/if#>", kData, true),
            "error: page.html:1:1: no value \"zzzz\" in the data");
}

TEST(StdTagsLanguage, ConditionErrors) {
  Expect({
      {"<#if#>x<#/if#>", "error: page.html:1:3: <#if#>: a condition is expected"},
      {"<#if n ==#>x<#/if#>",
       "error: page.html:1:10: <#if n ==#>: the condition ends where a value is expected"},
      {"<#if n = 1#>x<#/if#>", "error: page.html:1:8: <#if n = 1#>: \"=\" is no comparison"},
      {"<#if (n > 1#>x<#/if#>", "error: page.html:1:6: <#if (n > 1#>: \"(\" without its \")\""},
      {"<#if n > 1)#>x<#/if#>", "error: page.html:1:11: <#if n > 1)#>: \")\" without its \"(\""},
      {"<#if 1 < n < 5#>x<#/if#>",
       "error: page.html:1:12: <#if 1 < n < 5#>: comparisons do not chain"},
      {"<#if n 2#>x<#/if#>", "error: page.html:1:8: <#if n 2#>: an operator"},
      {"<#if and n#>x<#/if#>", "error: page.html:1:6: <#if and n#>: a value is expected"},
      {"<#if name == \"abc#>x<#/if#>",
       "error: page.html:1:14: <#if name == \"abc#>: a quoted string without its closing \""},
      {"<#if a..b#>x<#/if#>", "error: page.html:1:6: <#if a..b#>: \"a..b\" is not a name"},
      {"a\n  <#if yes#>\n  <#elif n >#>\n<#/if#>",
       "error: page.html:3:13: <#elif n >#>: the condition ends where a value is expected"},
      {"<#elif yes#>", "error: page.html:1:1: <#elif#> outside <#if#>"},
      {"<#unless a#><#elif b#><#/unless#>",
       "error: page.html:1:13: <#elif#> belongs to <#if#>, not to <#unless a#>"},
      {"<#each a#><#elif b#><#/each#>",
       "error: page.html:1:11: <#elif#> belongs to <#if#>, not to <#each a#>"},
      {"<#if a#><#else#><#elif b#><#/if#>",
       "error: page.html:1:17: an <#elif#> after the <#else#> of <#if a#>"},
  });
}

TEST(StdTagsLanguage, Modifiers) {
  Expect({
      {"[<#name trim upper#>][<#name trim capitalize#>][<#word capitalize#>]",
       "[ZOë SMITH][Zoë smith][Hello world]"},
      {"<#title lower#>", "tom &amp; jerry &lt;3"},  // escaped after the modifiers
      {"[<#nick default=\"anonymous\"#>][<#empty default=\"-\"#>][<#none default=x#>][<#n "
       "default=0#>]",
       "[anonymous][-][x][3]"},
      {"<#total number=2#> <#total number=2 group#> <#total number=0#> <#n number=1#>",
       "1234.50 1,234.50 1235 3.0"},
      {"<#total number=2 group=\".\" point=\",\"#> <#big number=0 group=\" \"#>",
       "1.234,50 12 345 678 901 234 567 890"},
      {"[<#neg number=2#>][<#word number=2#>][<#price number=20#>][<#n number=3#>]",
       "[0.00][hello world][7.50000000000000000000][3.000]"},
      {"<#tags length number=1#> <#title length truncate=1#>", "2.0 1…"},
      {"[<#name trim truncate=3#>][<#word truncate=20#>][<#jp truncate=2#>][<#jp truncate=0#>]",
       "[zoë…][hello world][日本…][…]"},
      {"<#dashed replace=\"-| \"#> <#title replace=\"&|and\"#> <#word replace=\"o|<\"#>",
       "a b c Tom and Jerry &lt;3 hell&lt; w&lt;rld"},
      {"[<#tags join=\", \"#>][<#nums join=\"+\"#>][<#word join=\",\"#>][<#obj join=\"/\"#>]",
       "[a, b][1+2][hello world][1/2]"},
      {"<#tags join=\", \" upper#>", "A, B"},
      {"<#jp length#> <#tags length#> <#obj length#> <#missing length#> <#word length#>",
       "3 2 2 0 11"},
      {"<#day date=\"%d.%m.%Y\"#> <#when date=\"%H:%M %A %j\"#> <#bad_day date=\"%Y\"#>",
       "05.03.2024 14:30 Tuesday 065 2024-02-30"},
      // Formats whose text is long: all of it (a fixed buffer once gave "").
      {"<#day date=\"" + Repeat("%A %d %B %Y, ", 24) + "\"#>",
       Repeat("Tuesday 05 March 2024, ", 24)},
      {"[<#day date=\"%200Y\"#>][<#day date=\"\"#>]", "[" + std::string(196, '0') + "2024][]"},
      // json gives the value's JSON, escaped for where it stands.
      {"<script>var t = <#tags json#>, j = <#tags join=\",\" json#>;</script>",
       "<script>var t = [\"a\",\"b\"], j = \"a,b\";</script>"},
      {"<a title=\"<#name trim upper#>\">", "<a title=\"ZOë SMITH\">"},
  });
  // A default keeps --strict from refusing a missing value.
  EXPECT_EQ(Render("<#nick default=anon#>", kData, true), "anon");
}

// number= on a number written as text gives what it gives on the number
// itself, whichever way the text is read (a plain decimal with no more
// decimals than asked is written from its digits).
TEST(StdTagsLanguage, NumberOfTextIsNumberOfTheValue) {
  const char* const kTexts[] = {"7.5",
                                "-12.5",
                                "007.50",
                                "-0.00",
                                "0.0",
                                "-0.5",
                                "1234567.25",
                                "1.005",
                                "2.675",
                                "99999999999999.5",
                                "42",
                                "-3",
                                "123456789.0",
                                "0.125",
                                "-0.001",
                                "12.50",
                                "-0.05",
                                "0.00",
                                "9999999999999.99",
                                "99999999999999.99",
                                "0.500"};
  for (const char* text : kTexts) {
    for (const char* mods : {"number=2", "number=1 group", "number=3 group=\".\" point=\",\"",
                             "number=0", "trim number=2"}) {
      const json data = {{"t", text}, {"v", std::strtod(text, nullptr)}};
      const std::string tag = std::string(" ") + mods + "#>";
      EXPECT_EQ(Render("<#t" + tag, data), Render("<#v" + tag, data)) << text << " " << mods;
    }
  }
  // Text that holds no plain number stays as it is.
  EXPECT_EQ(Render("[<#a number=2#>][<#b number=2#>][<#c number=2#>][<#d number=2#>]",
                   {{"a", "+1.5"}, {"b", "1."}, {"c", ".5"}, {"d", "1.5x"}}),
            "[+1.5][1.00][.5][1.5x]");
}

TEST(StdTagsLanguage, ModifierErrors) {
  Expect({
      {"<#name shout#>", "error: page.html:1:8: <#name shout#>: unknown modifier \"shout\""},
      {"<#name truncate#>", "error: page.html:1:8: <#name truncate#>: truncate needs a value"},
      {"<#name truncate=x#>",
       "error: page.html:1:8: <#name truncate=x#>: truncate=x: \"x\" is not a count of "
       "characters (a whole number, 0 or more), as in truncate=40"},
      {"<#name truncate=-1#>",
       "error: page.html:1:8: <#name truncate=-1#>: truncate=-1: \"-1\" "
       "is not a count of characters"},
      {"<#name upper=1#>", "error: page.html:1:8: <#name upper=1#>: upper takes no value"},
      {"<#name group#>", "error: page.html:1:8: <#name group#>: group follows number"},
      {"<#name replace=ab#>", "error: page.html:1:8: <#name replace=ab#>: replace=\"FROM|TO\""},
      {"<#name raw html#>",
       "error: page.html:1:12: <#name raw html#>: a second escaping modifier: html"},
      {"<#name number=99#>",
       "error: page.html:1:8: <#name number=99#>: number=99: \"99\" is not a count of "
       "decimals from 0 to 20"},
      {"<#name default=#>", "error: page.html:1:8: <#name default=#>: default= needs a value"},
      {"<#day date=\"%5000Y\"#>",
       "error: page.html:1:7: <#day date=\"%5000Y\"#>: date=: a format "
       "that may give more than 4096 bytes"},
      {"x\n<#name \"upper\"#>", "error: page.html:2:8: <#name \"upper\"#>: a modifier is expected"},
  });
}

TEST(StdTagsLanguage, Loops) {
  Expect({
      {"<#each tags#><#@number#>/<#@count#>:<#.#> <#/each#>", "1/2:a 2/2:b "},
      // An object's members in the data's order, with their names.
      {"<#each obj#><#@key#>=<#.#>,<#@index#> <#/each#>", "z=1,0 a=2,1 "},
      {"<#each tags#><#@key#><#/each#>", "01"},
      {"<#each items#>x<#else#>none<#/each#>|<#each missing#>x<#else#>none<#/each#>"
       "|<#each tags#><#.#><#else#>none<#/each#>",
       "none|none|ab"},
      // Inner loops have their own @number; names reach outwards.
      {"<#each list#><#each tags#><#name#><#.#><#@number#> <#/each#><#/each#>",
       "onea1 oneb2 twoa1 twob2 "},
      {"<#each 1..3#><#.#><#@number#> <#/each#>", "11 22 33 "},
      {"<#each -1..1#><#.#>,<#/each#>|<#each 1..n#><#.#><#/each#>", "-1,0,1,|123"},
      {"<#each 3..1#>x<#else#>empty<#/each#>", "empty"},
      {"<#each 9223372036854775806..9223372036854775807#><#.#> <#/each#>",
       "9223372036854775806 9223372036854775807 "},
      {"<#each tags#><#if @last#>!<#else#><#.#>,<#/if#><#/each#>", "a,!"},
      // Two loop names in one condition are two values.
      {"<#each tags#><#if @number == @count#>last<#elif @index < @count#>-<#/if#><#/each#>",
       "-last"},
  });
  Expect({
      {"<#each a b#>x<#/each#>", "error: page.html:1:1: <#each#> takes one name"},
      {"<#each 1.5..3#>x<#/each#>",
       "error: page.html:1:8: <#each 1.5..3#>: a range's ends are whole numbers"},
      {"<#each 1..#>x<#/each#>", "error: page.html:1:8: <#each 1..#>: a range is FROM..TO"},
      {"<#each 1..title#>x<#/each#>",
       "error: page.html:1:1: a range's end \"title\" is not a whole number (at render)"},
      {"<#each 1..100000000#>x<#/each#>",
       "error: page.html:1:1: a range of more than 1000000 numbers (at render)"},
      {"<#each tags#>a<#else#>b<#else#>c<#/each#>",
       "error: page.html:1:24: a second <#else#> of <#each tags#>"},
  });
}

TEST(StdTagsLanguage, LoopsWithinLoopsAreBoundedByTheStepLimit) {
  // Empty bodies output nothing: the output limit cannot stop them.
  TVekTemplateRoot root(fs::temp_directory_path());
  TVekPageProducer producer(nullptr);
  TVekStdTagsOptions o;
  o.MaxSteps = 100000;
  TVekStdTags tags(&producer, root, std::make_shared<json>(json{{"n", 1000000}}), o);
  try {
    tags.RenderText("<#each 1..n#>\n  <#each 1..n#><#/each#><#/each#>", "page.html");
    ADD_FAILURE() << "no limit";
  } catch (const EVekTemplateError& e) {
    EXPECT_EQ(std::string(e.what()),
              "page.html:2:3: the page takes more than 100000 steps (the limit MaxSteps)");
  }
  EXPECT_EQ(tags.RenderText("<#each 1..3#><#each 1..3#>.<#/each#><#/each#>", "page.html"),
            ".........");
}

TEST(StdTagsLanguage, Comments) {
  Expect({
      {"a<#-- note --#>b", "ab"},
      {"a<#-- <#if x#> <#name#> #> --#>b", "ab"},
      {"a<#-- one\ntwo\nthree --#>b", "ab"},
      {"a<#----#>b<#--#>c", "abc"},
      {"a\n  <#-- alone on its line --#>\nb", "a\nb"},
      {"x\ny <#-- z\n <#name#>", "error: page.html:2:3: a comment <#-- ...#> without its closing"},
  });
}

TEST(StdTagsLanguage, Whitespace) {
  Expect({
      {"<ul>\n  <#each tags#>\n  <li><#.#></li>\n  <#/each#>\n</ul>\n",
       "<ul>\n  <li>a</li>\n  <li>b</li>\n</ul>\n"},
      {"<p>\n<#if no#>\nA\n<#elif yes#>\nB\n<#else#>\nC\n<#/if#>\n</p>", "<p>\nB\n</p>"},
      // Two block tags and blanks on one line: the line goes.
      {"a\n <#if yes#> <#unless no#> \nb\n<#/unless#><#/if#>\nc", "a\nb\nc"},
      // CRLF line breaks go whole; the last line needs no line break.
      {"a\r\n\t<#if yes#>\r\nb\r\n<#/if#>", "a\r\nb\r\n"},
      // A value, text or an include keeps the line.
      {"<#if yes#><#n#>\nx <#if yes#>\n<#/if#><#/if#>", "3\nx \n"},
      // Trim markers: blanks and line breaks on that side.
      {"a  <#- n -#>  b|a\n\n<#-n#>\n\nb", "a3b|a3\n\nb"},
      {"<p>\n  <#- if yes -#>\n  x\n  <#- /if -#>\n</p>", "<p>x</p>"},
  });
}

TEST(StdTagsLanguage, Layouts) {
  TempSite site;
  site.Write("_base.html",
             "<html>\n<head><title><#block title#>Site<#/block#></title></head>\n<body>\n"
             "<#block body#>\n<p>default</p>\n<#/block#>\n"
             "<script>var data = <#block data#>null<#/block#>;</script>\n</body>\n</html>\n");
  site.Write("_mid.html",
             "<#extends file=\"_base.html\"#>\n<#block title#><#super#> · Mid<#/block#>\n"
             "<#block body#>\n<main>\n<#block main#>\nmid\n<#/block#>\n</main>\n<#/block#>\n");
  site.Write("a.html", "<#extends file=\"b.html\"#>");
  site.Write("b.html", "<#extends file=\"a.html\"#>");
  site.Write("_attr.html", "<a title=\"<#block u#>x<#/block#>\">");
  for (int i = 0; i < 20; ++i) {
    site.Write("l" + std::to_string(i) + ".html",
               "<#extends file=\"l" + std::to_string(i + 1) + ".html\"#>");
  }
  site.Write("l20.html", "end");
  Expect(
      {
          // The layout's blocks are defaults.
          {"<#extends file=\"_base.html\"#>",
           "<html>\n<head><title>Site</title></head>\n<body>\n<p>default</p>\n"
           "<script>var data = null;</script>\n</body>\n</html>\n"},
          // A value in a block is escaped for where the layout puts the block.
          {"<#extends file=\"_base.html\"#>\n<#block title#><#title#><#/block#>\n"
           "<#block data#><#title#><#/block#>\n",
           "<html>\n<head><title>Tom &amp; Jerry &lt;3</title></head>\n<body>\n<p>default</p>\n"
           "<script>var data = \"Tom \\u0026 Jerry \\u003C3\";</script>\n</body>\n</html>\n"},
          // Layouts that extend layouts; super gives the parent's content.
          {"<#extends file=\"_mid.html\"#>\n<#block title#>Page · <#super#><#/block#>\n"
           "<#block main#>\n<p>page, <#super#></p>\n<#/block#>\nignored\n",
           "<html>\n<head><title>Page · Site · Mid</title></head>\n<body>\n<main>\n"
           "<p>page, mid\n</p>\n</main>\n<script>var data = null;</script>\n</body>\n</html>\n"},
          {"<#extends file=\"_attr.html\"#><#block u#>?q=<#title#><#/block#>",
           "<a title=\"?q=Tom &amp; Jerry &lt;3\">"},
      },
      &site);
  Expect(
      {
          {"<#if yes#><#/if#><#extends file=\"_base.html\"#>",
           "error: page.html:1:18: <#extends#> must be the first tag"},
          {"<#extends file=\"_base.html\"#><#extends file=\"_mid.html\"#>",
           "error: page.html:1:30: a second <#extends#>"},
          {"<#extends file=\"a.html\"#>",
           "error: b.html:1:1: layout cycle: page.html -> a.html -> b.html -> a.html (at render)"},
          {"<#extends file=\"l0.html\"#>",
           "error: l15.html:1:1: layouts extend each other deeper than 16 (at render)"},
          {"<#extends file=\"nope.html\"#>",
           "error: page.html:1:1: extends: \"nope.html\" not found"},
          {"<#super#>", "error: page.html:1:1: <#super#> outside any <#block#>"},
          {"<#block a#><#/block#><#block a#><#/block#>",
           "error: page.html:1:22: a second <#block a#>"},
          // A block without its one name is an error, not a crash.
          {"<#block#>x<#/block#>",
           "error: page.html:1:1: <#block#> takes one name, as in <#block content#>"},
          {"<#extends file=\"_base.html\"#><#block a b#><#super#><#/block#>",
           "error: page.html:1:30: <#block#> takes one name"},
          {"<#extends file=\"_attr.html\"#><#block u#>\"><b><#/block#>",
           "error: page.html:1:30: <#block u#> ends in element text but in the layout in the value "
           "of the attribute title"},
      },
      &site);
  // Through the producer's entry point, as a server expands a page, the text
  // before the first tag comes out as the parsed template gives it.
  site.Write("lead.html", "  <#if yes#>\nA\n<#/if#>\n");
  site.Write("page.html", "stray\n<#extends file=\"_base.html\"#>");
  TVekTemplateRoot root(site.Dir());
  for (const char* name : {"lead.html", "page.html"}) {
    TVekPageProducer producer(nullptr);
    TVekStdTags tags(&producer, root, std::make_shared<json>(kData));
    const std::string rendered = tags.Render(name);
    TCustomContentProducer* content = &producer;
    EXPECT_EQ(content->ContentFromString(tags.Load(name)), rendered) << name;
  }
  // check follows the layouts: a cycle is told at the extends, worded as a
  // render words it.
  EXPECT_EQ(Check("<#extends file=\"a.html\"#>", &site),
            std::vector<std::string>{
                "1:1: extends: b.html:1:1: layout cycle: page.html -> a.html -> b.html -> a.html"});
  // check --data looks into the layouts too.
  site.Write("_typo.html", "<title><#titel#></title><#block b#><#/block#>");
  const auto names = VekCheckDataNames("<#extends file=\"_typo.html\"#><#block b#><#n#><#/block#>",
                                       "page.html", root, kData);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].Message,
            "no \"titel\" in the data (did you mean \"title\"?) (used at _typo.html:1:8)");
  // Text outside the blocks of a template that extends a layout is a warning.
  const auto issues = Check("<#extends file=\"_base.html\"#>\nstray <#n#>\n", &site);
  ASSERT_EQ(issues.size(), 2u) << ::testing::PrintToString(issues);
  EXPECT_EQ(issues[0],
            "2:1: warning: text outside any block of a template that extends a layout "
            "is never output");
  EXPECT_EQ(issues[1].rfind("2:7: warning: <#n#> stands outside any block", 0), 0u) << issues[1];
}

// Named loops: the element by its name, the outer one reachable inside an
// inner loop; its members are not names of their own.
TEST(StdTagsLanguage, NamedLoops) {
  const json data = json::parse(R"({"cats": [{"name": "a", "items": [1, 2]},
      {"name": "b", "items": [3]}], "name": "top", "posts": [{"title": "T<"}]})");
  const std::vector<TCase> cases = {
      {"<#each p in posts#><#p.title#>/<#title#>/<#name#><#/each#>", "T&lt;//top"},
      {"<#each c in cats#><#each i in c.items#><#c.name#><#i#>,<#/each#><#/each#>", "a1,a2,b3,"},
      {"<#each c in cats#><#@number#>:<#c.name#><#else#>none<#/each#><#each x in nope#>y<#else#>"
       "none<#/each#>",
       "1:a2:bnone"},
      {"<#each n in 1..3#><#n#><#/each#>", "123"},
      {"<#each a.b in cats#>x<#/each#>",
       "error: page.html:1:8: <#each a.b in cats#>: \"a.b\" is no name for a loop's element"},
      {"<#each c on cats#>x<#/each#>", "error: page.html:1:1: <#each#> takes one name"},
  };
  for (const auto& c : cases) {
    const std::string got = Render(c.tmpl, data);
    EXPECT_EQ(got.substr(0, c.expected.size()), c.expected) << c.tmpl;
  }
  // The data check knows the element's name.
  TempSite site;
  TVekTemplateRoot root(site.Dir());
  const auto names = VekCheckDataNames(
      "<#each c in cats#><#c.name#><#c.nmae#><#each i in c.items#><#c.name#><#/each#><#/each#>",
      "page.html", root, data);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].Message, "no \"c.nmae\" in the data (did you mean \"c.name\"?)");
}

// A path near the loop (the element's member, a name set or passed to a
// macro, a position) is found by a short way that remembers each tag's
// member from the element before: elements whose members stand in another
// order, steps below a member, names that hide the loop's, values that are
// no objects and a macro that sees neither its caller's loop nor the data
// give what the full look-up gives.
TEST(StdTagsLanguage, NamesNearTheLoop) {
  const json data = json::parse(R"({"rows": [{"name": "a", "id": 1, "a.b": "dot", "a": {"b": "s1"}},
      {"id": 2, "name": "b", "a": {"b": "s2"}}], "other": {"name": "z"}, "nums": [1, 2],
      "name": "top"})");
  const std::vector<TCase> cases = {
      {"<#each r in rows#><#r.name#><#r.id#>,<#/each#>", "a1,b2,"},
      {"<#each r in rows#><#if r.id > 1 and r.name#><#r.name#><#/if#>,<#/each#>", ",b,"},
      {"<#each r in rows#><#r.a.b#>,<#/each#>", "s1,s2,"},
      {"<#each r in rows#><#r.name#><#set r = other#><#r.name#>,<#/each#>", "az,bz,"},
      {"<#each r in rows#><#set k = r#><#k.name#><#k#>,<#/each#>", "a,b,"},
      {"<#each x in nums#><#x#>.<#x.y#>,<#/each#>", "1.,2.,"},
      {"<#macro m p#>[<#p.name#>]<#/macro#><#each r in rows#><#call m p=r#><#call m#><#/each#>",
       "[a][][b][]"},
      {"<#macro m#>[<#r.name#><#name#>]<#/macro#><#each r in rows#><#call m#><#/each#>", "[][]"},
      {"<#each r in rows#><#@index#><#@number#><#@count#> <#/each#>", "012 122 "},
      {"<#each r in rows#><script>var i = <#@number#>;</script><#/each#>",
       "<script>var i =  1 ;</script><script>var i =  2 ;</script>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Render(c.tmpl, data), c.expected) << c.tmpl;
}

// An included template that extends a layout renders the layout with its
// blocks; a layout that includes the page extending it is a cycle, found by
// render and check.
TEST(StdTagsLanguage, IncludedTemplatesRenderTheirLayouts) {
  TempSite site;
  site.Write("_l.html", "L[<#block b#>L<#/block#>]");
  site.Write("child.html", "<#extends file=\"_l.html\"#><#block b#>child<#/block#>");
  site.Write("_s.html", "S[<#block b#>s<#/block#>]");
  site.Write("super.html", "<#extends file=\"_s.html\"#><#block b#><#super#>+<#title#><#/block#>");
  site.Write("_c.html", "<#block b#><#/block#><#include file=\"cycle.html\"#>");
  site.Write("cycle.html", "<#extends file=\"_c.html\"#><#block b#>x<#super#><#/block#>");
  Expect(
      {
          {"before <#include file=\"child.html\"#> after", "before L[child] after"},
          {"<#each tags#><#include file=\"super.html\"#><#/each#>",
           "S[s+Tom &amp; Jerry &lt;3]S[s+Tom &amp; Jerry &lt;3]"},
          {"<p title=\"<#include file=\"child.html\"#>\">",
           "error: page.html:1:11: include: child.html extends a layout"},
      },
      &site);
  const std::string error = Render("<#include file=\"cycle.html\"#>", kData, false, &site);
  EXPECT_NE(error.find("include cycle: page.html -> cycle.html -> _c.html -> cycle.html"),
            std::string::npos)
      << error;
  TVekTemplateRoot root(site.Dir());
  const auto issues = VekCheckTemplate("<#extends file=\"_c.html\"#>", "cycle.html", &root);
  ASSERT_EQ(issues.size(), 1u);
  EXPECT_NE(issues[0].Message.find("include cycle: cycle.html -> _c.html -> cycle.html"),
            std::string::npos)
      << issues[0].Message;
}

// Random templates over the language's tokens: each renders or is refused
// with its place, and check finds what render refuses.
TEST(StdTagsLanguage, CheckFindsWhatRenderRefuses) {
  static const char* const kTokens[] = {"<#if a#>",
                                        "<#if v == \"V\"#>",
                                        "<#elif z#>",
                                        "<#elif n > 1#>",
                                        "<#else#>",
                                        "<#/if#>",
                                        "<#unless a#>",
                                        "<#/unless#>",
                                        "<#each x#>",
                                        "<#each 1..3#>",
                                        "<#each o#>",
                                        "<#/each#>",
                                        "<#v#>",
                                        "<#v upper trim#>",
                                        "<#n number=2#>",
                                        "<#@key#>",
                                        "<#@number#>",
                                        "<#-- c <#v#> --#>",
                                        "<#--",
                                        "--#>",
                                        "<#- v -#>",
                                        "<#block b#>",
                                        "<#/block#>",
                                        "<#super#>",
                                        "<#extends file=\"_l.html\"#>",
                                        "<#include file=\"_p.html\"#>",
                                        "\n",
                                        "  ",
                                        "t",
                                        "<p title=\"",
                                        "\"",
                                        ">",
                                        "<#",
                                        "#>",
                                        "<#if (a#>",
                                        "<#v shout#>",
                                        "<#set m = n * 2 + 1#>",
                                        "<#m#>",
                                        "<#set m = (n#>",
                                        "<#if \"k\" in o and -n % 2 == -1#>",
                                        "<#verbatim#>",
                                        "<#/verbatim#>",
                                        "<#include file=\"_p.html\" q=x#>",
                                        "<#macro mc p q=\"Q\"#>",
                                        "<#/macro#>",
                                        "<#call mc p=v#>",
                                        "<#call mc#>",
                                        "<#p#><#q#>"};
  TempSite site;
  site.Write("_l.html", "<title><#block b#>L<#/block#></title>\n<#block c#><#/block#>");
  site.Write("_p.html", "P");
  const json data = json::parse(R"({"a":true,"z":false,"x":[1,2],"v":"V","n":3,"o":{"k":1}})");
  TVekTemplateRoot root(site.Dir());
  std::mt19937 random(1410);
  int refused = 0, rendered = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string t;
    const int n = 1 + static_cast<int>(random() % 16);
    for (int k = 0; k < n; ++k) t += kTokens[random() % (sizeof kTokens / sizeof *kTokens)];
    std::vector<std::string> errors;
    for (const auto& issue : VekCheckTemplate(t, "t.html", &root)) {
      if (!issue.Warning)
        errors.push_back(std::to_string(issue.Line) + ":" + std::to_string(issue.Column) + ": " +
                         issue.Message);
    }
    for (const bool lenient : {false, true}) {
      TVekStdTagsOptions o;
      o.Lenient = lenient;
      TVekPageProducer producer(nullptr);
      TVekStdTags tags(&producer, root, std::make_shared<json>(data), o);
      std::string error;
      try {
        tags.RenderText(t, "t.html");
      } catch (const EVekTemplateError& e) {
        error = e.what();
      }
      if (lenient) {
        EXPECT_TRUE(error.empty() || error.rfind("t.html:", 0) == 0) << t << "\n" << error;
        continue;
      }
      // A clean check renders; a refusal is one of check's errors (an include
      // in a branch not taken is found by check alone). Calls that go deeper
      // as the data says meet the depth limit at render alone.
      if (error.find("(the limit MaxDepth)") != std::string::npos) continue;
      if (errors.empty()) {
        EXPECT_EQ(error, "") << t;
        ++rendered;
      } else if (!error.empty()) {
        bool found = false;
        for (const auto& e : errors) found |= error.rfind("t.html:" + e, 0) == 0;
        EXPECT_TRUE(found) << t << "\n" << error << "\n" << ::testing::PrintToString(errors);
        ++refused;
      }
    }
  }
  EXPECT_GT(rendered, 100);
  EXPECT_GT(refused, 100);
}

TEST(StdTagsLanguage, Arithmetic) {
  const std::string big = "9223372036854775807";
  Expect({
      // Precedence, parentheses, unary minus; integers stay integers.
      {"<#set x = 1 + 2 * 3#><#x#> <#set y = (1 + 2) * 3#><#y#> <#set z = -n * 2#><#z#>", "7 9 -6"},
      {"<#set a = n - 1#><#a#> <#set b = n -1#><#b#> <#set c = 10 - -n#><#c#>", "2 2 13"},
      {"<#set a = 7 % 3#><#a#> <#set b = -7 % 3#><#b#> <#set c = 2 - 3 - 4#><#c#>", "1 -1 -5"},
      // "/" of integers: whole when it divides, else a decimal.
      {"<#set a = 6 / 3#><#a#> <#set b = 7 / 2#><#b#> <#set c = price * 2#><#c#>", "2 3.5 15.0"},
      {"<#if n * 2 > 5 and (n + 1) % 2 == 0#>A<#/if#><#if -(n) == -3#>B<#/if#>", "AB"},
      // A "-" inside a word is part of the name.
      {"<#set first-name = 1#>",
       "error: page.html:1:7: <#set first-name = 1#>: \"first-name\" is no name to set"},
      {"<#if dashed-x#>A<#else#>B<#/if#>", "B"},
      // Faults of values, at the tag (render only: they depend on the data).
      {"<#set a = n / 0#>",
       "error: page.html:1:1: <#set a = n / 0#>: division by zero (at render)"},
      {"x\n<#if n % 0#>y<#/if#>", "error: page.html:2:1: <#if n % 0#>: \"%\" by zero (at render)"},
      {"<#set a = " + big + " + 1#>",
       "error: page.html:1:1: <#set a = " + big +
           " + 1#>: \"+\" goes beyond the whole numbers of 64 bits (at render)"},
      {"<#set a = -" + big + " - 2#>",
       "error: page.html:1:1: <#set a = -" + big +
           " - 2#>: \"-\" goes beyond the whole numbers of 64 bits (at render)"},
      {"<#set a = big * 1#>",
       "error: page.html:1:1: <#set a = big * 1#>: \"*\" goes beyond (at render)"},
      {"<#set a = name + 1#>",
       "error: page.html:1:1: <#set a = name + 1#>: \"+\" takes numbers, not a string and a number "
       "(at render)"},
      {"<#set a = missing * 2#>",
       "error: page.html:1:1: <#set a = missing * 2#>: \"*\" takes numbers, not null and a number "
       "(at render)"},
      // Faults of the text, found by check too.
      {"<#set a = 1 +#>",
       "error: page.html:1:14: <#set a = 1 +#>: the value ends where a value is expected"},
      {"<#set a = * 2#>",
       "error: page.html:1:11: <#set a = * 2#>: a value is expected before \"*\""},
      {"<#if " + Repeat("(", 65) + "n" + Repeat(")", 65) + "#>x<#/if#>",
       "error: page.html:1:70: <#if (((("},
  });
  EXPECT_NE(Render("<#if " + Repeat("(", 65) + "n" + Repeat(")", 65) + "#>x<#/if#>")
                .find("parentheses nested deeper than 64 (the limit of an expression's nesting)"),
            std::string::npos);
  EXPECT_EQ(Render("<#if " + Repeat("(", 64) + "n" + Repeat(")", 64) + "#>x<#/if#>"), "x");
}

TEST(StdTagsLanguage, In) {
  Expect({
      {"<#if \"a\" in tags#>A<#/if#><#if \"c\" in tags#>C<#/if#><#if 2 in nums#>2<#/if#>", "A2"},
      {"<#if \"z\" in obj#>Z<#/if#><#if \"y\" in obj#>Y<#/if#><#if \"lo w\" in word#>W<#/if#>",
       "ZW"},
      {"<#if \"c\" not in tags and not \"a\" in missing#>A<#/if#>", "A"},
      {"<#set hit = n in nums#><#hit#>", "false"},
      {"<#if \"a\" in tags in tags#>x<#/if#>",
       "error: page.html:1:18: <#if \"a\" in tags in tags#>: comparisons do not chain"},
  });
  // A number in a string gives no answer: false, refused under --strict.
  EXPECT_EQ(Render("<#if 1 in word#>A<#else#>B<#/if#>"), "B");
  EXPECT_EQ(Render("<#if 1 in word#>A<#/if#>", kData, true),
            "error: page.html:1:1: <#if 1 in word#>: cannot look for a number in a string");
}

TEST(StdTagsLanguage, Set) {
  Expect({
      {"<#set total = price * n#><#total number=2#>", "22.50"},
      {"<#set s = \"<b>\"#><a title=\"<#s#>\"><#s#></a>", "<a title=\"&lt;b&gt;\">&lt;b&gt;</a>"},
      // From there to the end of the enclosing block: an if branch, each round.
      {"<#set x = 1#><#if yes#><#set x = 2#><#x#><#/if#><#x#>", "21"},
      {"<#each nums#><#x#><#set x = .#><#x#>,<#/each#>[<#x#>]", "1,2,[]"},
      {"<#set x = 0#><#each nums#><#set x = x + .#><#x#>,<#/each#><#x#>", "1,2,0"},
      // A set list stays the data's list.
      {"<#set l = tags#><#each l#><#.#><#/each#><#l length#>", "ab2"},
      {"<#set n = n + 1#><#n#>", "4"},
      // Its line vanishes like a block tag's.
      {"a\n  <#set x = 1#>\nb<#x#>", "a\nb1"},
      {"<#set#>", "error: page.html:1:1: <#set#> takes a name, \"=\" and a value"},
      {"<#set x 1#>", "error: page.html:1:1: <#set#> takes"},
      {"<#set x.y = 1#>", "error: page.html:1:7: <#set x.y = 1#>: \"x.y\" is no name to set"},
  });
  // The data check knows names that are set.
  TempSite site;
  TVekTemplateRoot root(site.Dir());
  const auto names = VekCheckDataNames("<#set t = n * 2#><#t#><#tt#>", "page.html", root, kData);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].Message, "no \"tt\" in the data");
}

TEST(StdTagsLanguage, Verbatim) {
  Expect({
      {"<#verbatim#><#if a#><#name#><#/if#><#verbatim#><#/verbatim#>!",
       "<#if a#><#name#><#/if#><#verbatim#>!"},
      {"<pre>\n<#verbatim#>\n<#x#>\n<#/verbatim#>\n</pre>", "<pre>\n<#x#>\n</pre>"},
      {"<#verbatim#><#x#>", "error: page.html:1:1: <#verbatim#> has no closing <#/verbatim#>"},
      {"<#verbatim a#>x<#/verbatim#>", "error: page.html:1:1: <#verbatim#> takes no parameters"},
  });
}

TEST(StdTagsLanguage, IncludesTakeData) {
  TempSite site;
  site.Write("_card.html", "<h2><#item.name#></h2><p title=\"<#note#>\"><#n#></p>");
  Expect(
      {
          {"<#each p in list#><#include file=\"_card.html\" item=p note=\"<q>\" n=@number * 10#>"
           "<#/each#>",
           "<h2>one</h2><p title=\"&lt;q&gt;\">10</p><h2>two</h2><p title=\"&lt;q&gt;\">20</p>"},
          // Unquoted: the value at the path, missing when the data lacks it.
          {"<#include file=\"_card.html\" item=list.1 note=title#>",
           "<h2>two</h2><p title=\"Tom &amp; Jerry &lt;3\">3</p>"},
          {"<#include file=\"_card.html\" item=nope#>", "<h2></h2><p title=\"\">3</p>"},
          {"<#include file=\"_card.html\" item= #>",
           "error: page.html:1:29: <#include file=\"_card.html\" item= #>: the parameter item has "
           "no value"},
          {"<#include file=\"_card.html\" item=(n#>",
           "error: page.html:1:34: <#include file=\"_card.html\" item=(n#>: \"(\" without its "
           "\")\""},
          {"<#include file=\"_card.html\" n=n / 0#>",
           "error: page.html:1:1: <#include file=\"_card.html\" n=n / 0#>: division by zero (at "
           "render)"},
      },
      &site);
}

TEST(StdTagsLanguage, ErrorsSuggestTheLikelyWord) {
  Expect({
      {"<#each tags#>x<#/eahc#>", "error: page.html:1:1: <#each tags#> has no closing <#/each#>"},
      {"<#if yes#>x<#/fi#>", "error: page.html:1:1: <#if yes#> has no closing <#/if#>"},
      {"<#price nmber=2#>",
       "error: page.html:1:9: <#price nmber=2#>: unknown modifier \"nmber\": "
       "did you mean \"number\"?"},
      {"<#name uper#>",
       "error: page.html:1:8: <#name uper#>: unknown modifier \"uper\": did you "
       "mean \"upper\"?"},
      {"<#fi yes#>x", "error: page.html:1:6: <#fi yes#>: unknown modifier \"yes\" (known: "},
      {"<#endeach#>", "error: page.html:1:1: unknown tag <#endeach#>: "},
      {"<#foreach x#>", "error: page.html:1:1: unknown tag <#foreach x#>: "},
  });
  // Every fault is reported, the misspelled closing tag among them.
  const auto issues = Check("<#each tags#>x<#/eahc#>\n<#fi yes#>\n<#esle#>");
  const std::vector<std::string> expected = {
      "1:1: <#each tags#> has no closing <#/each#>",
      "1:15: unknown closing tag <#/eahc#> (did you mean <#/each#>?): only <#/each#>, <#/if#>, "
      "<#/unless#>, <#/block#> and <#/macro#> close a pair",
      "2:6: <#fi yes#>: unknown modifier \"yes\" (known: default, upper, lower, capitalize, "
      "trim, truncate, replace, join, length, number, group, point, date, and the escapings "
      "raw, html, attr, url, js, css, json) (did you mean <#if#>?)",
      "3:1: warning: <#esle#> is a value named \"esle\" (did you mean <#else#>?)"};
  EXPECT_EQ(issues, expected);
  // A name the data lacks, with the nearest the data has, under --strict too.
  EXPECT_EQ(Render("<#each list#><#nmae#><#/each#>", kData, true),
            "error: page.html:1:14: no value \"nmae\" in the data (did you mean \"name\"?)");
}

TEST(StdTagsLanguage, Macros) {
  Expect({
      // Defined once, called with data: a bare name is a path where the call
      // stands, quoted text is literal, a missing one takes its default.
      {"<#macro card title href=\"#\"#><a href=\"<#href#>\"><#title#></a><#/macro#>"
       "<#each p in list#><#call card title=p.name#>|<#/each#>"
       "<#call card title=\"<b>\" href=\"/x?a=1&b=2\"#>",
       "<a href=\"#\">one</a>|<a href=\"#\">two</a>|"
       "<a href=\"/x?a=1&amp;b=2\">&lt;b&gt;</a>"},
      // Expressions as arguments; defaults of every literal kind.
      {"<#macro m a b=2 c=true d=null#><#a#>,<#b#>,<#c#>,<#d#>.<#/macro#><#call m a=n * 2 + 1#>",
       "7,2,true,."},
      // The body sees its parameters and the globals, not the caller's names;
      // a parameter neither given nor defaulted is missing.
      {"<#macro m x#>[<#x#>|<#title#>|<#x default=\"none\"#>]<#/macro#>"
       "<#set title = 1#><#call m#><#each p in list#><#call m x=p.name#><#/each#>",
       "[||none][one||one][two||two]"},
      {"<#macro m#><#if p#>P<#else#>-<#/if#><#@index#><#.#><#/macro#>"
       "<#each p in list#><#call m#><#/each#>",
       "--"},
      // Names set in a body stay in it; macros call macros, themselves too.
      {"<#macro inner v#>(<#v#>)<#/macro#><#macro outer v#><#set w = v + 1#>"
       "<#call inner v=w#><#/macro#><#call outer v=n#><#w#>",
       "(4)"},
      {"<#macro down k#><#k#><#if k > 0#><#call down k=k - 1#><#/if#><#/macro#>"
       "<#call down k=n#>",
       "3210"},
      // The definition outputs nothing; its line vanishes like a block tag's.
      {"a\n<#macro m#>\nM\n<#/macro#>\nb<#call m#>", "a\nbM\n"},
      // Faults of the definition and of the call, at their places.
      {"<#macro#><#/macro#>", "error: page.html:1:1: <#macro#> takes a name, then its parameters"},
      {"<#macro m a=b#><#/macro#>",
       "error: page.html:1:12: <#macro m a=b#>: the default of a is quoted text, a number"},
      {"<#macro m a a#><#/macro#>",
       "error: page.html:1:13: <#macro m a a#>: the parameter a is named twice"},
      {"<#macro m#><#/macro#><#macro m#><#/macro#>",
       "error: page.html:1:22: a second <#macro m#>: a name names one macro"},
      {"<#if yes#><#macro m#><#/macro#><#/if#>",
       "error: page.html:1:11: <#macro#> stands at the top level of a template only, not inside "
       "<#if yes#>"},
      {"<#macro m#>x", "error: page.html:1:1: <#macro m#> has no closing <#/macro#>"},
      {"<#macro m#>x<#/macor#>", "error: page.html:1:1: <#macro m#> has no closing <#/macro#>"},
      {"<#macro m#><#include file=\"_x.html\"#><#/macro#>",
       "error: page.html:1:12: <#include file=\"_x.html\"#> inside a <#macro#>: a macro's body "
       "calls macros; import the file's macros instead"},
      {"<#macro m#><#block b#><#/block#><#/macro#>",
       "error: page.html:1:12: <#block b#> inside a <#macro#>"},
      {"<#macro card#><#/macro#>\n<#call crad#>",
       "error: page.html:2:1: <#call crad#>: no macro crad is defined here (did you mean "
       "\"card\"?) nor imported"},
      {"<#macro card title#><#/macro#><#call card titel=1#>",
       "error: page.html:1:31: <#call card titel=1#>: the macro card has no parameter titel "
       "(did you mean \"title\"?)"},
      {"<#macro m a#><#/macro#><#call m a=1 a=2#>",
       "error: page.html:1:37: <#call m a=1 a=2#>: the parameter a is given twice"},
      {"<#call#>", "error: page.html:1:1: <#call#> takes the macro's name, then NAME=VALUE"},
      {"<#macro m a#><#a#><#/macro#><#call m a=n / 0#>",
       "error: page.html:1:29: <#call m a=n / 0#>: division by zero (at render)"},
  });
  // The data check looks up the arguments where the call stands, not the
  // parameters the body uses.
  {
    TempSite site;
    TVekTemplateRoot root(site.Dir());
    const auto names = VekCheckDataNames("<#macro m x#><#x#><#/macro#><#call m x=titel#>",
                                         "page.html", root, kData);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].Message, "no \"titel\" in the data (did you mean \"title\"?)");
  }
  // The misspelled closing tag is suggested.
  const auto issues = Check("<#macro m#>x<#/macor#>");
  ASSERT_EQ(issues.size(), 2u);
  EXPECT_NE(issues[1].find("(did you mean <#/macro#>?)"), std::string::npos) << issues[1];
}

// A macro's body is escaped for the place of each call; a call where its
// body cannot stand is refused at the call.
TEST(StdTagsLanguage, MacroBodiesAreEscapedWhereTheyAreCalled) {
  Expect({
      {"<#macro v x#><#x#><#/macro#><p><#call v x=title#></p>"
       "<a title=\"<#call v x=title#>\" href=\"/s?q=<#call v x=title#>\">"
       "<script>var s = \"<#call v x=quote#>\", o = <#call v x=title#>;</script>",
       "<p>Tom &amp; Jerry &lt;3</p><a title=\"Tom &amp; Jerry &lt;3\" "
       "href=\"/s?q=Tom%20%26%20Jerry%20%3C3\"><script>var s = \"it\\x27s \\x22q\\x22\", "
       "o = \"Tom \\u0026 Jerry \\u003C3\";</script>"},
      // Attributes from a macro where a tag's attributes stand.
      {"<#macro cls c#> class=\"<#c#>\"<#/macro#><p <#call cls c=quote#>>x</p>",
       "<p  class=\"it&#39;s &quot;q&quot;\">x</p>"},
      // In code, what follows a call reads as after a value: a '/' there is
      // refused, since the body may end either way.
      {"<#macro v x#><#x#><#/macro#><script>a = <#call v x=n#>;</script>",
       "<script>a =  3 ;</script>"},
      {"<#macro v x#><#x#><#/macro#>\n<script>a = <#call v x=n#> / 2;</script>",
       "error: page.html:2:29: a '/' here could begin a regular expression or divide, depending "
       "on the way taken through the condition or the macro's body before it"},
      {"<#macro open#><b title=\"<#/macro#>\n<p><#call open#></p>",
       "error: page.html:2:4: <#call open#>: the body of open, called in element text, ends in "
       "the value of the attribute title: what follows the call would be escaped for the wrong "
       "place"},
      {"<#macro link u#><a href=\"<#u#>\">x</a><#/macro#>\n<p title=\"<#call link u=title#>\">",
       "error: page.html:2:11: <#call link u=title#>: the body of link cannot stand in the value "
       "of the attribute title: page.html:1:26: <#u#>: a value inside a tag must be an "
       "attribute's value"},
      // Through a call within the body, found at the outer call.
      {"<#macro a#><#call b#><#/macro#><#macro b#><i title=\"<#/macro#>\n<#call a#>",
       "error: page.html:2:1: <#call a#>: page.html:1:12: the body of b, called in element text, "
       "ends in "},
      // A macro that calls itself on every way through never ends.
      {"<#macro r#>x<#call r#><#/macro#>\n<#call r#>",
       "error: page.html:2:1: <#call r#>: page.html:1:13: <#call r#> calls r again on every way "
       "through its body: the calls would never end"},
  });
}

// Macros calling macros are bounded by the depth and step limits, with the
// limit named where it is reached; the renderer's stack holds them.
TEST(StdTagsLanguage, MacroRecursionIsBounded) {
  const std::string deep =
      Render("<#macro r k#>x<#if k#><#call r k=k#><#/if#><#/macro#><#call r k=yes#>");
  EXPECT_EQ(deep.substr(0, 92),
            "error: page.html:1:23: pairs, includes and calls nested deeper than 256 (the limit "
            "MaxDepth)");
  EXPECT_NE(deep.find("(in the macro called at page.html:1:23)"), std::string::npos) << deep;
  // Wide rather than deep: ten calls of ten calls of ... meet the step limit.
  std::string t;
  for (int i = 0; i < 12; ++i) {
    t += "<#macro m" + std::to_string(i) + "#>";
    for (int k = 0; k < 10; ++k) t += i == 0 ? "x" : "<#call m" + std::to_string(i - 1) + "#>";
    t += "<#/macro#>";
  }
  t += "<#call m11#>";
  TempSite site;
  TVekTemplateRoot root(site.Dir());
  TVekPageProducer producer(nullptr);
  TVekStdTagsOptions o;
  o.MaxSteps = 100000;
  TVekStdTags tags(&producer, root, std::make_shared<json>(kData), o);
  try {
    tags.RenderText(t, "page.html");
    ADD_FAILURE() << "rendered";
  } catch (const EVekTemplateError& e) {
    EXPECT_EQ(e.Limit(), "MaxSteps") << e.what();
  }
}

// Another file's macros, brought by import: resolved like includes, each
// body escaped where it is called, faults told at the import or the call.
TEST(StdTagsLanguage, Imports) {
  TempSite site;
  site.Write(
      "_macros.html",
      "<#import file=\"_base.html\"#>\n"
      "<#macro card title href=\"#\"#><a href=\"<#href#>\"><#call em t=title#></a><#/macro#>\n"
      "<#macro open#><b title=\"<#/macro#>\n");
  site.Write("_base.html", "<#macro em t#><em><#t#></em><#/macro#>");
  site.Write("_cycle.html", "<#import file=\"_cycle2.html\"#>");
  site.Write("_cycle2.html", "<#import file=\"_cycle.html\"#>");
  site.Write("_bad.html", "<#macro m#><#if#><#/macro#>");
  Expect(
      {
          // Its own macros only: what the imported file imports stays there.
          {"<#import file=\"_macros.html\"#><#each p in list#><#call card title=p.name#><#/each#>"
           "<p title=\"<#call em t=title#>\">",
           "error: page.html:1:94: <#call em t=title#>: no macro em is defined in page.html nor "
           "in the files it imports (_macros.html)"},
          {"<#import file=\"_macros.html\"#><#each p in list#><#call card title=p.name#><#/each#>",
           "<a href=\"#\"><em>one</em></a><a href=\"#\"><em>two</em></a>"},
          // A macro of the page hides one of the same name imported.
          {"<#import file=\"_macros.html\"#><#macro card title#>[<#title#>]<#/macro#>"
           "<#call card title=n#>",
           "[3]"},
          {"<#import file=\"_macros.html\"#>\n<#call crad#>",
           "error: page.html:2:1: <#call crad#>: no macro crad (did you mean \"card\"?) is defined "
           "in page.html nor in the files it imports (_macros.html)"},
          {"<#import file=\"_macros.html\"#>\n<#call card titel=1#>",
           "error: page.html:2:1: <#call card titel=1#>: the macro card has no parameter titel"},
          // Escaped where it is called: a body that cannot stand there is
          // refused at the call, with its place in the imported file.
          {"<#import file=\"_macros.html\"#>\n<p title=\"<#call card title=n#>\">",
           "error: page.html:2:11: <#call card title=n#>: the body of card cannot stand in the "
           "value of the attribute title: _macros.html:2:"},
          {"<#import file=\"_macros.html\"#>\n<#call open#>",
           "error: page.html:2:1: <#call open#>: the body of open, called in element text, ends "
           "in"},
          // Faults of the import, at its tag.
          {"x\n<#import file=\"_none.html\"#>", "error: page.html:2:1: import: "},
          {"<#import file=\"_cycle.html\"#>",
           "error: page.html:1:1: _cycle2.html:1:1: import cycle: page.html -> "
           "_cycle.html -> _cycle2.html -> _cycle.html"},
          {"<#import file=\"_bad.html\"#>", "error: page.html:1:1: import: _bad.html:1:"},
          {"<#import#>", "error: page.html:1:1: <#import#> takes the file only"},
          {"<#if yes#><#import file=\"_macros.html\"#><#/if#>",
           "error: page.html:1:11: <#import#> stands at the top level of a template only"},
      },
      &site);
  // Imports nested deeper than the limit, which is named.
  for (int i = 0; i < 20; ++i)
    site.Write("_i" + std::to_string(i) + ".html",
               "<#import file=\"_i" + std::to_string(i + 1) + ".html\"#>");
  site.Write("_i20.html", "");
  const std::string deep = Render("<#import file=\"_i0.html\"#>", kData, false, &site);
  EXPECT_NE(deep.find("imports nested deeper than 16 (the limit MaxIncludeDepth)"),
            std::string::npos)
      << deep;
}
