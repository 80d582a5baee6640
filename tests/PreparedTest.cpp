// Texts expanded again: the producer prepares a text the second time it sees
// it (HTMLDoc while unchanged, other texts in a bounded cache) and runs from
// its tag table after. The results must stay those of the plain model,
// whatever handlers do in between and during: change the delimiters or
// HTMLDoc, expand other texts, throw. Also the entry points that write to a
// stream.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

// Handlers that act on the tag's name, written once for the component and
// once for the model:
//   p*       answers rsPairTag; the pair handler returns "[" body "]"
//   sq       switches the delimiters to "[[" "]]", ang back to "<#" "#>"
//   nest     expands the text "(<#a#><#p#>x<#/p#>)" through the same producer
//   doc      sets HTMLDoc to the one line "<#d#>!"
//   stop     answers rsStop; boom throws
//   anything else answers "<" name params ">"
struct Scripted {
  TVekPageProducer c{nullptr};
  vekmodel::Producer m;
  std::vector<std::string> log;  // the component's calls

  template <class P, class L>
  static void Act(P& p, const std::string& name, const L& params, std::string& ret, int& st,
                  std::vector<std::string>* log) {
    if (log) log->push_back(name);
    if (name.rfind("p", 0) == 0) st = rsPairTag;
    if (name == "sq") Delimiters(p, "[[", "]]");
    if (name == "ang") Delimiters(p, "<#", "#>");
    if (name == "nest") ret = "{" + p.ContentFromString("(<#a#><#p#>x<#/p#>)") + "}";
    if (name == "doc") SetDoc(p, "<#d#>!");
    if (name == "stop") st = rsStop;
    if (name == "boom") throw std::runtime_error("boom");
    if (ret.empty()) {
      ret = "<" + name;
      for (const auto& s : params) ret += " " + std::string(s);
      ret += ">";
    }
  }
  static void Delimiters(TVekPageProducer& p, const char* b, const char* e) {
    p.SetVekTagBeg(b);
    p.SetVekTagEnd(e);
  }
  static void Delimiters(vekmodel::Producer& p, const char* b, const char* e) {
    p.VekTagBeg = b;
    p.VekTagEnd = e;
  }
  static void SetDoc(TVekPageProducer& p, const std::string& line) {
    p.HTMLDoc()->Clear();
    p.HTMLDoc()->Add(line);
  }
  static void SetDoc(vekmodel::Producer& p, const std::string& line) { p.HTMLDoc = {line}; }

  Scripted() {
    c.SetOnVekTag([this](TObject*, const AnsiString& name, TStrings* params, AnsiString& ret,
                         int& st) { Act(c, name, *params, ret, st, &log); });
    c.SetOnVekPairTag([](TObject*, const AnsiString&, TStrings*, const AnsiString& body,
                         AnsiString& ret, int&) { ret = "[" + body + "]"; });
    m.OnVekTag = [this](vekmodel::Producer&, const std::string& name, vekmodel::Params* params,
                        std::string& ret, int& st) { Act(m, name, *params, ret, st, nullptr); };
    m.OnVekPairTag = [](vekmodel::Producer&, const std::string&, vekmodel::Params*,
                        const std::string& body, std::string& ret,
                        int&) { ret = "[" + body + "]"; };
  }
  void Reset() {
    Delimiters(c, "<#", "#>");
    Delimiters(m, "<#", "#>");
  }
};

// Expanded four times (first seen, prepared, from the cache twice) through
// each entry point, every result is the model's.
const char* const kTexts[] = {
    "a<#x#>b<#y k=1 'q r'#>c",
    "<#p#>1<#p#>2<#/p#>3<#/P#>4 <#p#>never closed <#z#> tail",
    "<#\"my tag\" a=\"b c\"#> <#x#>unclosed <#x",
    "before<#x#>\0<#hidden#>",
    "<#a#><#sq#>[[b]] <#c#> [[ang]]<#d#>[[e]]",
    "<#p#>body<#sq#>[[/p]] after [[/p]]<#/p#>z",
    "<#nest#><#nest#> <#p#><#nest#><#/p#>",
    "<#a#><#stop#>never",
    "<#q1#><#q2#><#q3#><#/q3#><#/q2#> <#q1#>x<#/q1#>",
    "no tags at all",
};

TEST(Prepared, RepeatedTextsExpandAsTheModelThroughEveryEntryPoint) {
  for (const char* raw : kTexts) {
    const std::string text(raw,
                           std::char_traits<char>::length(raw) +
                               (raw == kTexts[3] ? 1 + 10 : 0));  // keeps the part after the NUL
    for (int entry = 0; entry < 3; ++entry) {
      Scripted s;
      for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(text + " entry " + std::to_string(entry) + " round " + std::to_string(round));
        s.Reset();
        const std::string want = s.m.Execute(text);
        std::string got;
        if (entry == 0) {
          got = s.c.Execute(text);
        } else if (entry == 1) {
          got = s.c.ContentFromString(text);
        } else {
          TStringStream out;
          s.c.ExecuteTo(text, &out);
          got = out.DataString();
        }
        EXPECT_EQ(got, want);
        EXPECT_EQ(s.c.TagName(), s.m.TagName);
        EXPECT_EQ(Lines(*s.c.TagParams()), s.m.TagParams);
      }
    }
  }
}

// Pairs whose closing tag lies further than the pair step scans (64 tags):
// the rest of the text is recorded in a table, and the loop goes on from it,
// also when a handler then changes the delimiters, and when the names come
// in their thousands.
TEST(Prepared, PairsFarApartAndManyDistinctNamesExpandAsTheModel) {
  std::string far = "<#p#>";
  for (int i = 0; i < 100; ++i)
    far += "<#a" + std::to_string(i % 7) + " k=" + std::to_string(i) + "#>.";
  far += "<#/p#> <#pq#>";  // pq is never closed
  for (int i = 0; i < 100; ++i) far += "<#b#><#p#>x<#/p#>";
  far += "<#sq#>[[p]]y[[/p]] [[ang]]<#p#>z<#/P#>";
  std::string distinct = "<#pnever#>";
  for (int i = 0; i < 3000; ++i) {
    const std::string n = "p" + std::to_string(i);
    distinct += "<#" + n + "#>b" + std::to_string(i) + "<#/" + n + "#>";
  }
  std::string rows;
  for (int i = 0; i < 500; ++i) rows += "<li><#prow#>cell</li>";
  rows += "<#/prow#>";
  for (const std::string* text : {&far, &distinct, &rows}) {
    Scripted s;
    for (int round = 0; round < 3; ++round) {
      s.Reset();
      const std::string want = s.m.Execute(*text);
      s.Reset();
      EXPECT_EQ(s.c.Execute(*text), want) << text->substr(0, 40) << " round " << round;
      EXPECT_EQ(s.c.TagName(), s.m.TagName);
    }
  }
}

TEST(Prepared, HTMLDocFollowsEveryKindOfChange) {
  Scripted s;
  auto same = [&](const char* what) {
    SCOPED_TRACE(what);
    s.m.HTMLDoc = Lines(*s.c.HTMLDoc());
    for (int round = 0; round < 3; ++round) {
      s.Reset();
      const std::string want = s.m.Content();
      s.Reset();
      EXPECT_EQ(s.c.Content(), want);
      s.Reset();
      TStringStream out;
      s.c.ContentTo(&out);
      EXPECT_EQ(out.DataString(), want);
    }
  };
  s.c.HTMLDoc()->Add("<#a#> one");
  same("Add");
  s.c.HTMLDoc()->Add("<#p#>two<#/p#>");
  same("Add again");
  s.c.HTMLDoc()->Insert(0, "<#b#>");
  same("Insert");
  s.c.HTMLDoc()->Put(1, "<#c#> put");
  same("Put");
  s.c.HTMLDoc()->Delete(0);
  same("Delete");
  s.c.HTMLDoc()->SetText("<#x#>\r\n<#y#>");
  same("SetText");
  static_cast<TStringList*>(s.c.HTMLDoc())->SetSorted(true);
  same("SetSorted");
  TStringList other;
  other.Add("<#z#> assigned");
  s.c.SetHTMLDoc(&other);
  same("SetHTMLDoc");
  s.c.SetVekTagBeg("[[");
  s.c.SetVekTagBeg("<#");  // the same delimiters again
  same("delimiters set again");
}

TEST(Prepared, HandlersChangingHTMLDocOrDelimitersDuringContent) {
  // The running expansion keeps the text it started with; the next one sees
  // the new HTMLDoc. A prepared text met with other delimiters is scanned.
  Scripted s;
  for (const char* line : {"<#a#><#doc#><#b#>", "<#a#><#sq#>[[b]]<#c#>[[ang]]<#d#>",
                           "<#p#>x<#sq#>[[/p]]<#/p#>[[e]]"}) {
    s.c.HTMLDoc()->Clear();
    s.c.HTMLDoc()->Add(line);
    s.m.HTMLDoc = {line};
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(std::string(line) + " round " + std::to_string(round));
      s.Reset();
      const std::string want = s.m.Content();
      s.Reset();
      EXPECT_EQ(s.c.Content(), want);
      EXPECT_EQ(Lines(*s.c.HTMLDoc()), s.m.HTMLDoc);
    }
  }
}

TEST(Prepared, HandlersEditingTagParamsSeeEachTagsOwnParameters) {
  // From a table, a tag's parameters overwrite the lines of the last tag's
  // when there are as many. Whatever a handler did to the list, the next tag
  // sees its own parameters (in order, or sorted while a handler keeps the
  // list sorted), and the list's change count moves at every tag: the same
  // on first sight (scanned) as from the table (prepared, then cached).
  TVekPageProducer p(nullptr);
  std::vector<std::string> seen;
  std::vector<unsigned long long> counts;
  p.SetOnVekTag([&](TObject*, const AnsiString& name, TStrings* params, AnsiString&, int&) {
    auto& list = dynamic_cast<TStringList&>(*params);
    std::string line = name;
    for (const auto& s : *params) line += " " + s;
    seen.push_back(line);
    counts.push_back(list.ChangeCount());
    if (name == "add") params->Add("zz");
    if (name == "del") params->Delete(0);
    if (name == "put") params->Put(0, "a line much longer than the parameter it replaces");
    if (name == "sort") list.SetSorted(true);
    if (name == "z") list.SetSorted(false);
  });
  const std::string text =
      "<#x b c d#><#add e f g#><#y h i j#><#del k l m#><#put n o p#><#q r s t#><#u#><#v w#>"
      "<#sort c b a#><#z 3 1 2#><#a 'long parameter, longer than a short string' 2 3#>";
  const std::vector<std::string> want = {"x b c d",
                                         "add e f g",
                                         "y h i j",
                                         "del k l m",
                                         "put n o p",
                                         "q r s t",
                                         "u",
                                         "v w",
                                         "sort c b a",
                                         "z 1 2 3",
                                         "a long parameter, longer than a short string 2 3"};
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    seen.clear();
    counts.clear();
    EXPECT_EQ(p.Execute(text), "");
    EXPECT_EQ(seen, want);
    for (std::size_t i = 1; i < counts.size(); ++i) EXPECT_GT(counts[i], counts[i - 1]) << i;
    EXPECT_EQ(Lines(*p.TagParams()),
              (std::vector<std::string>{"long parameter, longer than a short string", "2", "3"}));
  }
}

TEST(Prepared, ExceptionsLeaveThePreparedTextUsable) {
  Scripted s;
  const std::string text = "<#a#><#p#>in<#/p#><#boom#><#b#>";
  for (int round = 0; round < 4; ++round) {
    s.Reset();
    EXPECT_THROW(s.c.Execute(text), std::runtime_error);
    EXPECT_EQ(s.c.TagName(), "boom");
  }
  EXPECT_EQ(s.c.Execute("<#a#><#p#>in<#/p#>"), "<a><p>[in]");
}

TEST(Prepared, ATextDifferingInOneByteIsNotTakenForACachedOne) {
  // Long enough that the hash samples only some of its bytes.
  std::string text;
  for (int i = 0; i < 400; ++i) text += "<#t" + std::to_string(i % 7) + "#> filler ";
  Scripted s;
  for (int i = 0; i < 3; ++i) s.c.Execute(text);
  for (std::size_t at = 1; at < text.size(); at += 97) {
    std::string other = text;
    if (other[at] == ' ')
      other[at] = '_';
    else if (other[at] >= '0' && other[at] <= '6')
      other[at] = '9';
    else
      continue;
    EXPECT_EQ(s.c.Execute(other), s.m.Execute(other)) << at;
    EXPECT_EQ(s.c.Execute(text), s.m.Execute(text)) << at;
  }
}

TEST(Prepared, CacheLimitsChangeNothingButWhatIsKept) {
  for (const auto& limits : std::vector<std::pair<unsigned, unsigned long long>>{
           {0, 0}, {1, 1u << 20}, {16, 64}, {2, 200}}) {
    Scripted s;
    s.c.SetPreparedTextLimits(limits.first, limits.second);
    for (int round = 0; round < 3; ++round)
      for (const char* text : kTexts) {
        s.Reset();
        const std::string want = s.m.Execute(text);
        s.Reset();
        EXPECT_EQ(s.c.Execute(text), want) << text << " limits " << limits.first;
      }
  }
}

// A stream that records the size of every write, failing from the byte
// FailAt on (a short write) when set.
class RecordingStream : public TStringStream {
 public:
  std::vector<std::int64_t> writes;
  std::int64_t failAt = -1;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override {
    writes.push_back(Count);
    if (failAt >= 0 && Size() + Count > failAt) return 0;
    return TStringStream::Write(Buffer, Count);
  }
};

TEST(Prepared, StreamOutputComesInBoundedChunks) {
  TVekPageProducer p(nullptr);
  p.SetOnVekTag([](TObject*, const AnsiString& name, TStrings*, AnsiString& ret, int&) {
    ret = name == "big" ? std::string(200000, 'b') : "v";
  });
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "literal text <#x#> ";
  text += "<#big#>end";
  for (int round = 0; round < 3; ++round) {
    RecordingStream out;
    p.ExecuteTo(text, &out);
    EXPECT_EQ(out.DataString(), p.Execute(text));
    ASSERT_GT(out.writes.size(), 4u);
    for (std::size_t i = 0; i < out.writes.size(); ++i) {
      if (out.writes[i] > 64 * 1024) {
        EXPECT_EQ(out.writes[i], 200000) << "only a long answer";
      }
    }
  }
  // Written as the expansion goes: what came before a failure stays.
  p.SetOnVekTag([](TObject*, const AnsiString& name, TStrings*, AnsiString&, int&) {
    if (name == "boom") throw std::runtime_error("boom");
  });
  std::string failing = std::string(100000, 'a') + "<#boom#>";
  RecordingStream out;
  EXPECT_THROW(p.ExecuteTo(failing, &out), std::runtime_error);
  EXPECT_EQ(out.DataString(), std::string(out.DataString().size(), 'a'));
  EXPECT_GE(out.DataString().size(), 64u * 1024);
  RecordingStream shortWrite;
  shortWrite.failAt = 1000;
  EXPECT_THROW(p.ExecuteTo(failing, &shortWrite), EWriteError);
  EXPECT_THROW(p.ExecuteTo("x", nullptr), std::invalid_argument);
  EXPECT_THROW(p.ContentTo(nullptr), std::invalid_argument);
  EXPECT_THROW(p.ExecuteTo(static_cast<TStrings*>(nullptr), &out), std::invalid_argument);
}

TEST(Prepared, EmptyTextsAndDelimitersWriteNothing) {
  TVekPageProducer p(nullptr);
  RecordingStream out;
  p.ExecuteTo("", &out);
  p.ContentTo(&out);  // HTMLDoc is empty
  p.HTMLDoc()->Add("a<#x#>");
  p.SetVekTagEnd("");
  p.ContentTo(&out);
  p.ExecuteTo("a<#x#>", &out);
  EXPECT_TRUE(out.writes.empty());
  EXPECT_EQ(out.DataString(), "");
}

}  // namespace
