// Loops: a pair's body prepared once (PrepareBody) and expanded row by row
// into the page (ExpandBody), against the same loop answering through RetText.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

// A loop application. Tags: «rows n=K» and «cols n=K» open pairs repeated K
// times; «i» and «j» answer the row and column; «delims» switches to «{» «}»
// and «back» to «<#» «#>»; «stop» answers rsStop; «boom» throws in row
// `throwRow`; any other tag answers its own name in parentheses. The pair
// handler repeats its body through ExpandBody, or (intoPage false) by
// appending ContentFromString(body) to RetText; either way it then answers
// «.» in RetText.
struct LoopApp {
  TVekPageProducer p{nullptr};
  bool intoPage = true;
  bool catchInPair = false;  // the pair handler catches a row's exception
  int throwRow = -1;
  int row = 0, col = 0;
  std::vector<std::string> calls;

  LoopApp() {
    p.SetOnVekTag([this](TObject*, const AnsiString& name, TStrings*, AnsiString& ret, int& st) {
      calls.push_back(name);
      if (name == "rows" || name == "cols") {
        st = rsPairTag;
      } else if (name == "i") {
        ret = std::to_string(row);
      } else if (name == "j") {
        ret = std::to_string(col);
      } else if (name == "delims" || name == "back") {
        p.SetVekTagBeg(name == "delims" ? "{" : "<#");
        p.SetVekTagEnd(name == "delims" ? "}" : "#>");
      } else if (name == "stop") {
        st = rsStop;
      } else if (name == "boom") {
        if (row == throwRow) throw std::runtime_error("row failed");
      } else {
        ret = "(" + name + ")";
      }
    });
    p.SetOnVekPairTag([this](TObject* sender, const AnsiString& name, TStrings* params,
                             const AnsiString& body, AnsiString& ret, int&) {
      calls.push_back("pair " + name);
      auto* producer = static_cast<TVekPageProducer*>(sender);
      // Nested expansions overwrite name and params: copies first.
      const bool rows = name == "rows";
      const int n = std::stoi(params->Values("n"));
      const AnsiString keep = body;
      const TVekBody prepared = producer->PrepareBody(body);
      for (int k = 1; k <= n; ++k) {
        (rows ? row : col) = k;
        try {
          if (intoPage)
            producer->ExpandBody(prepared);
          else
            ret += producer->ContentFromString(keep);
        } catch (const std::runtime_error&) {
          if (!catchInPair) throw;
          ret += "!";
        }
      }
      ret += ".";
    });
  }
  void Reset() {
    calls.clear();
    p.SetVekTagBeg("<#");
    p.SetVekTagEnd("#>");
  }
};

// How the page is asked for.
enum class Entry { Execute, ExecuteTwice, Content, ContentTwice, ExecuteTo, ContentTo };

std::string Render(LoopApp& a, Entry e, const std::string& doc) {
  a.Reset();
  TStringList lines;
  lines.Add(doc);
  switch (e) {
    case Entry::ExecuteTwice:
      a.p.Execute(doc);
      a.Reset();
      [[fallthrough]];
    case Entry::Execute:
      return a.p.Execute(doc);
    case Entry::ContentTwice:
      a.p.SetHTMLDoc(&lines);
      a.p.Content();  // the second expansion runs from HTMLDoc's table
      a.Reset();
      return a.p.Content();
    case Entry::Content:
      a.p.SetHTMLDoc(&lines);
      return a.p.Content();
    case Entry::ExecuteTo: {
      TStringStream out;
      a.p.ExecuteTo(doc, &out);
      return out.DataString();
    }
    case Entry::ContentTo: {
      a.p.SetHTMLDoc(&lines);
      TStringStream out;
      a.p.ContentTo(&out);
      return out.DataString();
    }
  }
  return "";
}

using namespace std::string_literals;

const std::string kTemplates[] = {
    "<ul><#rows n=3#><li><#i#></li><#/rows#></ul>"s,
    "<#rows n=2#>[<#i#>:<#cols n=3#><#i#><#j#> <#/cols#>]<#/rows#>!"s,
    "<#rows n=2#><#rows n=2#><#i#><#/rows#>|<#/rows#>"s,  // the same name nested
    "<#rows n=3#>a<#stop#>b<#/rows#>c"s,                  // rsStop ends one row only
    "<#rows n=3#><#i#><#delims#>{i}<#i#>{back}<#i#><#/rows#><#i#>"s,
    "<#rows n=2#><#i#><#cols n=2#>{j}<#/cols#><#/rows#><#delims#>{rows n=2}<#i#>{/rows}"s,
    "<#rows n=2#><#i#><#cols n=2#>open<#/rows#>"s,  // an unclosed pair in the body
    "<#rows n=2#>x<#y\0z#><#/rows#>"s,              // a NUL: the body is seen up to it
    "<#rows n=4#><#/rows#>"s,                       // an empty body fires nothing
    "<#rows n=0#>never<#/rows#>-"s,
    "<#rows n=2#><#a#><#b c=1#>unclosed <#<#/rows#>"s,
};

}  // namespace

TEST(Loops, PageAndCallsAgreeWithTheRetTextPath) {
  for (const std::string& doc : kTemplates) {
    for (Entry e : {Entry::Execute, Entry::ExecuteTwice, Entry::Content, Entry::ContentTwice,
                    Entry::ExecuteTo, Entry::ContentTo}) {
      LoopApp viaPage, viaRetText;
      viaRetText.intoPage = false;
      const std::string expected = Render(viaRetText, e, doc);
      EXPECT_EQ(Render(viaPage, e, doc), expected) << doc << " entry " << int(e);
      EXPECT_EQ(viaPage.calls, viaRetText.calls) << doc;
      EXPECT_EQ(viaPage.p.TagName(), viaRetText.p.TagName()) << doc;
    }
  }
}

TEST(Loops, BodyWithNulAndDelimitersChangedBetweenRows) {
  // A body holding a NUL is seen up to it, as Execute sees a text.
  LoopApp a;
  const TVekBody withNul = a.p.PrepareBody("x<#i#>\0<#i#>"s);
  a.p.SetOnVekPairTag(
      [&](TObject*, const AnsiString&, TStrings*, const AnsiString&, AnsiString&, int&) {
        for (a.row = 1; a.row <= 2; ++a.row) a.p.ExpandBody(withNul);
      });
  EXPECT_EQ(a.p.Execute("<#rows#>-<#/rows#>"), "x1x2");
  // The handler switches the delimiters between rows: the table prepared
  // with the first ones is built again for the second.
  a.Reset();
  a.p.SetOnVekPairTag(
      [&a](TObject*, const AnsiString&, TStrings*, const AnsiString& body, AnsiString&, int&) {
        const TVekBody prepared = a.p.PrepareBody(body);
        a.p.ExpandBody(prepared);
        a.p.SetVekTagBeg("{");
        a.p.SetVekTagEnd("}");
        a.p.ExpandBody(prepared);
      });
  EXPECT_EQ(a.p.Execute("<#rows#>a<#x#>{x}<#/rows#>{y}"), "a(x){x}a<#x#>(x)(y)");
}

TEST(Loops, ExpandBodyWritesIntoTheInnermostRunningExpansion) {
  // A handler runs an expansion of its own; a loop inside it writes into
  // that expansion's output, which the outer handler then answers.
  LoopApp a;
  std::string inner;
  a.p.SetOnVekTag(
      [&a, &inner](TObject*, const AnsiString& name, TStrings*, AnsiString& ret, int& st) {
        if (name == "nested") {
          inner = a.p.Execute("<#rows n=2#>r<#/rows#>");
          ret = "<" + inner + ">";
        } else if (name == "rows") {
          st = rsPairTag;
        }
      });
  EXPECT_EQ(a.p.Execute("a<#nested#>b"), "a<rr.>b");
  EXPECT_EQ(inner, "rr.");
}

TEST(Loops, ExceptionsTakeBackTheRowAndReachTheCaller) {
  const std::string doc = "<#rows n=3#>[<#i#><#boom#>]<#/rows#>end";
  for (bool intoPage : {true, false}) {
    LoopApp a;
    a.intoPage = intoPage;
    a.throwRow = 2;
    EXPECT_THROW(a.p.Execute(doc), std::runtime_error);
    // Caught in the pair handler: the failed row leaves nothing behind (the
    // handler's RetText comes after the rows written into the page).
    a.catchInPair = true;
    EXPECT_EQ(a.p.Execute(doc), intoPage ? "[1][3]!.end" : "[1]![3].end");
    // Nested: the outer row fails after the inner loop wrote its rows; the
    // outer row is taken back whole.
    a.throwRow = 1;
    EXPECT_EQ(a.p.Execute("<#rows n=1#><#cols n=1#>x<#/cols#><#boom#><#/rows#>|"), "!.|");
  }
  // To a stream, what was written before the exception stays written.
  LoopApp a;
  a.throwRow = 2;
  TStringStream out;
  EXPECT_THROW(a.p.ExecuteTo(doc, &out), std::runtime_error);
  EXPECT_EQ(out.DataString(), "");  // all still in the sink's buffer, discarded
  // The producer works on afterwards, prepared bodies included.
  a.throwRow = -1;
  EXPECT_EQ(a.p.Execute(doc), "[1][2][3].end");
  EXPECT_EQ(a.p.Execute(doc), "[1][2][3].end");
}

TEST(Loops, MisuseIsReported) {
  TVekPageProducer p(nullptr);
  const TVekBody body = p.PrepareBody("<#x#>");
  EXPECT_TRUE(static_cast<bool>(body));
  EXPECT_THROW(p.ExpandBody(body), std::logic_error);  // no expansion running
  EXPECT_THROW(p.ExpandBody(TVekBody()), std::invalid_argument);
  // After an expansion has ended there is no page to write into either.
  p.SetOnVekTag([&](TObject*, const AnsiString&, TStrings*, AnsiString& ret, int&) { ret = "X"; });
  EXPECT_EQ(p.Execute("a<#y#>"), "aX");
  EXPECT_THROW(p.ExpandBody(body), std::logic_error);
}

TEST(Loops, AHandleOutlivesItsProducerAndServesAnother) {
  TVekBody body;
  {
    TVekPageProducer first(nullptr);
    body = first.PrepareBody("<#v#>-");
  }
  TVekPageProducer p(nullptr);
  p.SetOnVekTag([&](TObject*, const AnsiString& name, TStrings*, AnsiString& ret, int&) {
    if (name == "v") ret = "V";
    if (name == "loop") {
      p.ExpandBody(body);
      p.ExpandBody(body);
    }
  });
  EXPECT_EQ(p.Execute("<#loop#>|"), "V-V-|");
  // A handler empties a delimiter: the body then writes nothing, as an
  // expansion with an empty delimiter returns "".
  p.SetOnVekTag([&](TObject*, const AnsiString&, TStrings*, AnsiString&, int&) {
    p.SetVekTagEnd("");
    p.ExpandBody(body);
  });
  EXPECT_EQ(p.Execute("<#loop#>|"), "|");
}
