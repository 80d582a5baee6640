// TVekEngine: its loaders (directory, memory, callback), its outputs
// (string, stream, sink), custom modifiers and application tags, each
// against a table of template, data and expected page or error; check knows
// the registered names.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "../tool/TempDir.h"
#include "VekEngine.h"

namespace {

const TVekData kData = TVekData::parse(R"({
  "title": "Fruit & veg",
  "name": "leek",
  "n": 3,
  "items": [{"name": "apple", "id": 1}, {"name": "<b>pear</b>", "id": 2}]
})");

// Reverses a string value; numbers and other values as their JSON.
TVekData Reverse(const TVekData& V, const std::vector<std::string>&) {
  std::string s = V.is_string() ? V.get<std::string>() : V.dump();
  return TVekData(std::string(s.rbegin(), s.rend()));
}

// Repeats the value's text: times=N.
TVekData Times(const TVekData& V, const std::vector<std::string>& Args) {
  if (Args.size() != 1) throw std::invalid_argument("times=N needs its count");
  const int n = std::stoi(Args[0]);
  if (n < 0 || n > 100) throw std::out_of_range("times=" + Args[0] + ": from 0 to 100");
  std::string one = V.is_string() ? V.get<std::string>() : V.dump(), s;
  for (int i = 0; i < n; ++i) s += one;
  return TVekData(s);
}

// An engine over the templates Files with the test's modifiers and tags.
std::unique_ptr<TVekEngine> MakeEngine(std::map<std::string, std::string> Files = {}) {
  auto e = std::make_unique<TVekEngine>(VekMemoryTemplates(std::move(Files)));
  e->AddModifier("reverse", Reverse);
  e->AddModifier("times", Times);
  e->AddModifier("isnull", [](const TVekData& V, const std::vector<std::string>&) {
    return TVekData(V.is_null());
  });
  e->AddFunction("max", [](const TVekArgs& A) {
    if (A.size() != 2 || !A[0].is_number() || !A[1].is_number())
      throw std::invalid_argument("takes two numbers");
    return A[0] < A[1] ? A[1] : A[0];
  });
  e->AddFunction("count", [](const TVekArgs& A) { return TVekData(A.size()); });
  e->AddFunction("second", [](const TVekArgs& A) { return A[1]; });
  e->AddFunction("isnull", [](const TVekArgs& A) { return TVekData(A[0].is_null()); });
  e->AddTag("user", [](const TVekTagCall& C) {
    return TVekTagAnswer{"<i>" + C.Param("name") + "</i>", C.Param("trusted") == "yes"};
  });
  e->AddTag("link", [](const TVekTagCall& C) {
    const TVekData* id = C.Value("id");
    const TVekData* index = C.Value("@index");
    return TVekTagAnswer{"/item/" + (id ? id->dump() : "?") + "#" + (index ? index->dump() : "-")};
  });
  e->AddTag("fails", [](const TVekTagCall&) -> TVekTagAnswer {
    throw std::runtime_error("the store is closed");
  });
  return e;
}

struct TCase {
  const char* Template;
  const char* Page;        // expected page, or nullptr when an error is expected
  const char* Error = "";  // a part of the error's message
  int Line = 0, Column = 0;
};

void RunCases(const TVekEngine& E, const std::vector<TCase>& Cases) {
  for (const TCase& c : Cases) {
    SCOPED_TRACE(c.Template);
    if (c.Page) {
      EXPECT_EQ(E.RenderText(c.Template, kData), c.Page);
      EXPECT_TRUE(E.CheckText(c.Template).empty()) << E.CheckText(c.Template)[0].Message;
      continue;
    }
    try {
      E.RenderText(c.Template, kData);
      ADD_FAILURE() << "no error";
    } catch (const EVekTemplateError& e) {
      EXPECT_NE(e.Message().find(c.Error), std::string::npos) << e.what();
      EXPECT_EQ(e.File(), "text.html");
      EXPECT_EQ(e.Line(), c.Line);
      EXPECT_EQ(e.Column(), c.Column);
    }
  }
}

TEST(EngineModifiers, AppliedInOrderEscapedWhereTheTagStands) {
  const auto e = MakeEngine();
  RunCases(
      *e,
      {
          {"<#name reverse#>", "keel"},
          {"<#name upper reverse#>", "KEEL"},
          {"<#name reverse upper#>", "KEEL"},
          {"<#n times=2#>", "33"},
          {"<#title reverse#>", "gev &amp; tiurF"},
          {"<a title=\"<#title reverse#>\">", "<a title=\"gev &amp; tiurF\">"},
          {"<script>var t = <#name reverse#>;</script>", "<script>var t = \"keel\";</script>"},
          {"<#missing isnull#>", "true"},
          {"<#missing default=\"x\" reverse#>", "x"},
          {"<#name reverse raw#>", "keel"},
          {"line\n  <#n times=-1#>", nullptr, "modifier \"times\": times=-1: from 0 to 100", 2, 3},
          {"<#n times#>", nullptr, "modifier \"times\": times=N needs its count", 1, 1},
          {"<#name nosuch#>", nullptr, "unknown modifier \"nosuch\"", 1, 8},
      });
}

TEST(EngineTags, AnsweredByTheHandlerAndEscapedUnlessTrusted) {
  const auto e = MakeEngine();
  RunCases(
      *e,
      {
          {"<#user name=\"Ann & Bo\"#>", "&lt;i&gt;Ann &amp; Bo&lt;/i&gt;"},
          {"<#user name=Ann trusted=yes#>", "<i>Ann</i>"},
          // Trusted HTML is trusted in element text only.
          {"<a title=\"<#user name=Ann trusted=yes#>\">", "<a title=\"&lt;i&gt;Ann&lt;/i&gt;\">"},
          {"<a href=\"<#user name=Ann trusted=yes#>\">", "<a href=\"&lt;i&gt;Ann&lt;/i&gt;\">"},
          {"<script>var u = <#user name=Ann trusted=yes#>;</script>",
           "<script>var u = \"\\u003Ci\\u003EAnn\\u003C\\/i\\u003E\";</script>"},
          {"<#each items#><a href=\"<#link#>\"><#name#></a><#/each#>",
           "<a href=\"/item/1#0\">apple</a><a href=\"/item/2#1\">&lt;b&gt;pear&lt;/b&gt;</a>"},
          {"<#link#>", "/item/?#-"},
          {"<p>\n<#fails#>", nullptr, "tag \"fails\": the store is closed", 2, 1},
          {"<#nosuch x=1#>", nullptr, "unknown modifier \"x\"", 1, 10},
          {"<#endfor#>", nullptr, "unknown tag", 1, 1},
      });
}

TEST(EngineFunctions, CalledInExpressionsWithTheirValues) {
  const auto e = MakeEngine();
  RunCases(
      *e,
      {
          {"<#set m = max(n, 7)#><#m#>", "7"},
          {"<#set m = max(n * 4, 7) + 1#><#m#>", "13"},
          {"<#if max(n, 1) == n#>yes<#/if#>", "yes"},
          {"<#set c = count()#><#c#>/<#set c = count(1, \"a,b\", (2))#><#c#>", "0/3"},
          {"<#set m = max(max(1, 2), max(n, -max(4, 5)))#><#m#>", "3"},
          {"<#set m = -max(1, 2)#><#m#>", "-2"},
          {"<#if not isnull(name)#>named<#/if#><#if isnull(nosuch)#>, missing<#/if#>",
           "named, missing"},
          {"<#each items#><#if max(id, 2) == id#><#name#><#/if#><#/each#>",
           "&lt;b&gt;pear&lt;/b&gt;"},
          // A name without "(" right after it stays a path.
          {"<#set max = 1#><#if max (n) #>-<#/if#>", nullptr, "an operator", 1, 25},
          // Faults: at the tag (render) and at the name (parse).
          {"\n<#set m = max(name, 1)#>", nullptr, "function \"max\": takes two numbers", 2, 1},
          {"<#set m = second(1)#>", nullptr, "function \"second\": argument 2 asked", 1, 1},
          {"<#set m = mux(1, 2)#>", nullptr, "unknown function \"mux\" (did you mean max?)", 1, 11},
          {"<#set m = max(1, 2#>", nullptr, "the call of \"max\" has no \")\"", 1, 11},
          {"<#set m = max(1,, 2)#>", nullptr, "a value is expected before \",\"", 1, 17},
          {"<#set m = (1, 2)#>", nullptr, "\",\" outside the arguments", 1, 13},
          {"<#if 1, 2#>x<#/if#>", nullptr, "\",\" outside the arguments", 1, 7},
          {"<#set m = a.b(1)#>", nullptr, "\"a.b\" is no function's name", 1, 11},
      });
  // Without the engine's functions a call is refused where it stands.
  const auto issues = VekCheckTemplate("<#if max(1, 2)#>x<#/if#>", "t.html", nullptr);
  ASSERT_FALSE(issues.empty());
  EXPECT_NE(issues[0].Message.find("the application registers none"), std::string::npos)
      << issues[0].Message;
}

TEST(EngineExtensions, NamesAreCheckedWhenRegistered) {
  TVekEngine e(VekMemoryTemplates({}));
  const std::vector<std::string> bad = {"upper", "raw", "default", "", "9lives", "a-b", "a.b"};
  for (const auto& name : bad) {
    SCOPED_TRACE(name);
    EXPECT_THROW(e.AddModifier(name, Reverse), std::invalid_argument);
  }
  for (const char* name : {"each", "if", "include", "super", "set", "verbatim", "a b"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(e.AddTag(name, [](const TVekTagCall&) { return TVekTagAnswer{}; }),
                 std::invalid_argument);
  }
  EXPECT_THROW(e.AddModifier("fine", nullptr), std::invalid_argument);
  for (const char* name : {"and", "not", "in", "true", "null", "f(", "_x"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(e.AddFunction(name, [](const TVekArgs&) { return TVekData(); }),
                 std::invalid_argument);
  }
  EXPECT_THROW(e.AddFunction("fine", nullptr), std::invalid_argument);
}

TEST(EngineCheck, KnowsRegisteredNamesAndStillFindsUnknownOnes) {
  const auto e = MakeEngine({{"page.html", "<#name reverse#><#user name=x#>"},
                             {"bad.html", "ok\n<#name reverse nosuch#>"}});
  EXPECT_TRUE(e->Check("page.html").empty());
  const auto issues = e->Check("bad.html");
  ASSERT_EQ(issues.size(), 1u);
  EXPECT_EQ(issues[0].Line, 2);
  EXPECT_NE(issues[0].Message.find("unknown modifier \"nosuch\""), std::string::npos);
  // Without the extensions, the same template is refused where the name
  // stands: the engine's names do not leak into other options.
  EXPECT_FALSE(VekCheckTemplate("<#name reverse#>", "t.html", nullptr).empty());
}

TEST(EngineLoaders, MemoryCallbackAndDirectoryRenderTheSamePages) {
  const std::map<std::string, std::string> files = {
      {"index.html", "<h1><#title#></h1><#include file=\"parts/list.html\"#>"},
      {"parts/list.html", "<#each items#><#include file=\"item.html\"#><#/each#>"},
      {"parts/item.html", "[<#name#>]"},
      {"escape.html", "<#include file=\"../../secret\"#>"},
  };
  TTempDir dir("vek-engine-");
  for (const auto& f : files) {
    std::filesystem::create_directories((dir.Path() / f.first).parent_path());
    std::ofstream(dir.Path() / f.first) << f.second;
  }
  std::vector<std::string> asked;
  std::mutex mutex;
  TVekEngine memory(VekMemoryTemplates(files));
  TVekEngine directory{TVekTemplateRoot(dir.Path())};
  TVekEngine callback(VekCallbackTemplates([&](const std::string& Name, std::string& Text) {
    std::lock_guard<std::mutex> lock(mutex);
    asked.push_back(Name);
    const auto it = files.find(Name);
    if (it == files.end()) return false;
    Text = it->second;
    return true;
  }));
  const std::string page = "<h1>Fruit &amp; veg</h1>[apple][&lt;b&gt;pear&lt;/b&gt;]";
  for (const TVekEngine* e : {&memory, &directory, &callback}) {
    EXPECT_EQ(e->Render("index.html", kData), page);
    try {
      e->Render("nosuch.html", kData);
      ADD_FAILURE() << "no error";
    } catch (const EVekPathError& err) {
      EXPECT_EQ(err.Kind(), EVekPathError::pkNotFound);
    }
    EXPECT_THROW(e->Render("../index.html", kData), EVekPathError);
    try {
      e->Render("escape.html", kData);
      ADD_FAILURE() << "no error";
    } catch (const EVekTemplateError& err) {
      EXPECT_NE(err.Message().find("leaves the template root"), std::string::npos) << err.what();
    }
  }
  // The callback is asked by normalised names only, never for one above the root.
  for (const auto& name : asked) EXPECT_EQ(name.find(".."), std::string::npos) << name;
}

TEST(EngineLoaders, ACallbackTemplateThatChangesIsParsedAgain) {
  std::string text = "one <#n#>";
  std::mutex mutex;
  TVekEngine e(VekCallbackTemplates([&](const std::string&, std::string& Text) {
    std::lock_guard<std::mutex> lock(mutex);
    Text = text;
    return true;
  }));
  EXPECT_EQ(e.Render("t.html", kData), "one 3");
  EXPECT_EQ(e.Render("t.html", kData), "one 3");
  const auto parses = e.Options().Cache->Parses();
  text = "two <#n#>";  // same size, other text
  EXPECT_EQ(e.Render("t.html", kData), "two 3");
  EXPECT_EQ(e.Options().Cache->Parses(), parses + 1);
}

TEST(EngineOutput, StringStreamAndSinkGiveTheSamePage) {
  // A page of about 130 KB: several pieces for the sink.
  const auto e = MakeEngine(
      {{"big.html", "<#each 1..4000#><p><#title#> <#@index#> <#name reverse#></p>\n<#/each#>"}});
  const std::string page = e->Render("big.html", kData);
  ASSERT_GT(page.size(), 100000u);
  std::ostringstream os;
  e->Render("big.html", kData, os);
  EXPECT_EQ(os.str(), page);
  std::string pieces;
  int calls = 0;
  e->Render("big.html", kData, [&](const char* Bytes, size_t Size) {
    pieces.append(Bytes, Size);
    ++calls;
  });
  EXPECT_EQ(pieces, page);
  EXPECT_GT(calls, 3);
  std::ostringstream text;
  e->RenderText("<#name reverse#>", kData, text);
  EXPECT_EQ(text.str(), "keel");
}

TEST(EngineOutput, AFailingStreamOrSinkIsAnError) {
  const auto e = MakeEngine({{"t.html", "<#title#>"}});
  std::ostringstream bad;
  bad.setstate(std::ios::badbit);
  EXPECT_THROW(e->Render("t.html", kData, bad), EVekTemplateError);
  EXPECT_THROW(e->Render("t.html", kData,
                         [](const char*, size_t) { throw std::runtime_error("disk full"); }),
               std::runtime_error);
}

TEST(EngineOutput, LimitsCountWhatWasStreamed) {
  TVekStdTagsOptions options;
  options.MaxOutput = 100000;
  TVekEngine e(VekMemoryTemplates({{"big.html", "<#each 1..20000#>0123456789<#/each#>"}}), options);
  size_t sent = 0;
  try {
    e.Render("big.html", kData, [&](const char*, size_t Size) { sent += Size; });
    ADD_FAILURE() << "no error";
  } catch (const EVekTemplateError& err) {
    EXPECT_EQ(err.Limit(), "MaxOutput");
  }
  EXPECT_LE(sent, 100000u);
}

TEST(EngineErrors, FieldsNameThePlaceAndTheIncludeChain) {
  const auto e = MakeEngine({{"index.html", "a\n  <#include file=\"part.html\"#>"},
                             {"part.html", "b\n\n    <#n times=500#>"}});
  try {
    e->Render("index.html", kData);
    FAIL() << "no error";
  } catch (const EVekTemplateError& err) {
    EXPECT_EQ(err.File(), "part.html");
    EXPECT_EQ(err.Line(), 3);
    EXPECT_EQ(err.Column(), 5);
    ASSERT_EQ(err.IncludedFrom().size(), 1u);
    EXPECT_EQ(err.IncludedFrom()[0].File, "index.html");
    EXPECT_EQ(err.IncludedFrom()[0].Line, 2);
    EXPECT_EQ(err.Message(), "modifier \"times\": times=500: from 0 to 100");
  }
}

TEST(EngineBinder, TheProducerLevelTakesTheSameExtensions) {
  TTempDir dir("vek-engine-binder-");
  std::ofstream(dir.Path() / "p.html") << "<p><#name reverse#> <#user name=Ann trusted=yes#></p>";
  auto ext = std::make_shared<TVekExtensions>();
  ext->AddModifier("reverse", Reverse);
  ext->AddTag("user", [](const TVekTagCall& C) {
    return TVekTagAnswer{"<i>" + C.Param("name") + "</i>", true};
  });
  TVekStdTagsOptions options;
  options.Extensions = ext;
  TVekTemplateRoot root(dir.Path());
  TVekPageProducer producer(nullptr);
  TVekStdTags tags(&producer, root, std::make_shared<const TVekData>(kData), options);
  EXPECT_EQ(tags.Render("p.html"), "<p>keel <i>Ann</i></p>");
  EXPECT_EQ(producer.ContentFromString(tags.Load("p.html")), "<p>keel <i>Ann</i></p>");
}

}  // namespace
