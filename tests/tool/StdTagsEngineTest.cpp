// The parsed templates against the producer itself: random templates over a
// small alphabet of standard tags (pairs crossed, unclosed, in other letter
// cases, stray else and closing tags, unclosed delimiters) render leniently
// exactly as the producer expands them when every pair body is handed back
// to it, the way handlers re-expand bodies (an else parting the body of an
// if, unless or each).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "TempDir.h"
#include "VekStdTags.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

const json kData = json::parse(R"({"a": true, "z": false, "x": [1, 2], "v": "V"})");

bool IsPair(const AnsiString& Name) {
  return Name == "each" || Name == "if" || Name == "unless";
}

// Expands with handlers of the producer alone: pair bodies go back through
// ContentFromString; an if's else is the first else tag of its body outside
// a nested pair, found with the producer's own scanner and pair matcher.
class EngineReference {
 public:
  EngineReference() {
    producer_.SetOnVekTag(
        [](TObject*, const AnsiString& Name, TStrings*, AnsiString& Text, int& State) {
          if (IsPair(Name)) {
            State = rsPairTag;
          } else if (Name == "v") {
            Text = "V";
          }
        });
    producer_.SetOnVekPairTag([this](TObject*, const AnsiString& Name, TStrings* Params,
                                     const AnsiString& Inner, AnsiString& Text, int&) {
      const AnsiString name = Name, body = Inner;
      const AnsiString path = Params->Count() > 0 ? Params->Get(0) : AnsiString();
      const bool truthy = kData.contains(path) && kData[path] != false;
      // An each's else, as an if's, parts the body: the list "x" has two
      // elements, any other name none.
      const bool yes = name == "each" ? path == "x" : truthy == (name == "if");
      const int times = name == "each" && yes ? 2 : 1;
      int pos = 0;
      AnsiString tag, tagName;
      for (;;) {
        const int before = pos;
        AnsiString skipped;
        if (!producer_.ExtractNextTag(body.c_str(), pos, &skipped, &tag)) break;
        TVekPageProducer::ExtractTagParams(tag, tagName, nullptr);
        if (tagName == "else") {
          const size_t at = static_cast<size_t>(before) + skipped.size();
          for (int i = 0; i < times; ++i)
            Text += producer_.ContentFromString(yes ? body.substr(0, at)
                                                    : body.substr(static_cast<size_t>(pos)));
          return;
        }
        if (IsPair(tagName)) {
          AnsiString inner;
          producer_.ExtractInnerText(tagName, body.c_str(), pos, inner);
        }
      }
      if (yes)
        for (int i = 0; i < times; ++i) Text += producer_.ContentFromString(body);
    });
  }
  std::string Expand(const std::string& T) { return producer_.ContentFromString(T); }

 private:
  TVekPageProducer producer_{nullptr};
};

}  // namespace

TEST(StdTagsEngine, LenientRenderingIsTheProducersExpansion) {
  static const char* const kTokens[] = {
      "<#if a#>",  "<#if z#>",  "<#/if#>",      "<#IF a#>",    "<#/IF#>",  "<#each x#>",
      "<#/each#>", "<#/EACH#>", "<#unless a#>", "<#/unless#>", "<#else#>", "<#v#>",
      "t",         "<#",        "#>",           "<#if#>",      "<#/x#>",   "<##>"};
  const TTempDir temp("vek-engine-");
  const fs::path& dir = temp.Path();
  TVekTemplateRoot root(dir);
  TVekStdTagsOptions lenient;
  lenient.Lenient = true;
  std::mt19937 random(20261210);
  EngineReference reference;
  int sound = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string t;
    const int n = 1 + static_cast<int>(random() % 14);
    for (int k = 0; k < n; ++k) t += kTokens[random() % (sizeof kTokens / sizeof *kTokens)];
    const std::string expected = reference.Expand(t);
    TVekPageProducer producer(nullptr);
    TVekStdTags tags(&producer, root, std::make_shared<json>(kData), lenient);
    ASSERT_EQ(tags.RenderText(t, "t.html"), expected) << t;
    // A template the parser finds sound renders the same without leniency.
    if (VekCheckTemplate(t, "t.html", nullptr).empty()) {
      ++sound;
      TVekPageProducer loudProducer(nullptr);
      TVekStdTags loud(&loudProducer, root, std::make_shared<json>(kData));
      ASSERT_EQ(loud.RenderText(t, "t.html"), expected) << t;
    }
  }
  EXPECT_GT(sound, 30);  // some of them are sound templates
  fs::remove_all(dir);
}

TEST(StdTagsEngine, AnyTemplateRendersOrIsRefusedWithAPlace) {
  // Tags mixed with the HTML, JavaScript and CSS that move the context.
  static const char* const kTokens[] = {
      "<#if a#>",  "<#/if#>",   "<#each x#>", "<#/each#>", "<#else#>", "<#v#>", "<#v raw#>",
      "<#v url#>", "<#x#>",     "<a href=\"", "<a href=",  "\"",       "'",     ">",
      "<script>",  "</script>", "<style>",    "</style>",  "<!--",     "-->",   " onclick='",
      "`",         "${",        "}",          "/*",        "*/",       "//",    "\n",
      ":",         "/",         "?",          "<title>",   "</title>", "<",     "<#"};
  const TTempDir temp("vek-engine-");
  const fs::path& dir = temp.Path();
  TVekTemplateRoot root(dir);
  std::mt19937 random(1210);
  for (int i = 0; i < 3000; ++i) {
    std::string t;
    const int n = 1 + static_cast<int>(random() % 20);
    for (int k = 0; k < n; ++k) t += kTokens[random() % (sizeof kTokens / sizeof *kTokens)];
    for (const bool lenient : {false, true}) {
      TVekStdTagsOptions o;
      o.Lenient = lenient;
      TVekPageProducer producer(nullptr);
      TVekStdTags tags(&producer, root, std::make_shared<json>(kData), o);
      try {
        tags.RenderText(t, "t.html");
      } catch (const EVekTemplateError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("t.html:", 0), 0u) << t << "\n" << e.what();
        EXPECT_FALSE(lenient) << t << "\n" << e.what();
      }
    }
  }
  fs::remove_all(dir);
}
