// Handlers that fail, and templates nested deeper than any stack would allow
// a recursive matcher.
#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

// What a handler throws on purpose: not a std::exception, so nothing in
// between can mistake it for one of its own.
struct Injected {
  int call;
};

// A producer whose handlers number their calls and throw at call ThrowAt.
// "loop" repeats its body n times and "if" shows it once, both by expanding
// it again through the same producer; "x" is a plain pair.
struct FailingProducer {
  TVekPageProducer p{nullptr};
  int calls = 0;
  int throwAt = -1;
  std::vector<Call> seen;  // every call, as the handler saw it on entry

  void Enter(const AnsiString& name, TStrings* params, const AnsiString* body) {
    seen.push_back({name, Lines(*params), body ? *body : "", body != nullptr});
    if (calls++ == throwAt) throw Injected{throwAt};
  }

  FailingProducer() {
    p.SetOnVekTag(
        [this](TObject*, const AnsiString& name, TStrings* params, AnsiString& ret, int& st) {
          Enter(name, params, nullptr);
          ret = "<" + name + ">";
          if (name == "loop" || name == "if" || name == "x") st = rsPairTag;
        });
    p.SetOnVekPairTag([this](TObject*, const AnsiString& name, TStrings* params,
                             const AnsiString& body, AnsiString& ret, int&) {
      Enter(name, params, &body);
      if (name == "x") {
        ret = "[" + body + "]";
        return;
      }
      const AnsiString keep = body;  // the nested expansions overwrite name and params
      const int n = name == "loop" ? std::stoi(params->Values("n")) : 1;
      for (int k = 0; k < n; ++k) ret += p.ContentFromString(keep);
    });
  }
};

const std::string kNested =
    "a<#t p=1#>b<#loop n=2#>(<#i k='v w'#><#if#>yes<#x#>in<#/x#><#/if#>"
    "<#x#>1<#x#>2<#/x#>3<#/x#>)<#/loop#>c<#x q#>z<#/X#><#u 'v w'#><#x#>open";

}  // namespace

// For every call k of an expansion with pairs, nested pairs and nested
// expansions: a handler that throws at call k stops the expansion, the
// exception reaches the caller unchanged, the tag fields hold the tag being
// handled, and the producer then expands templates as before.
TEST(Failure, AHandlerMayThrowAtAnyCall) {
  FailingProducer clean;
  const std::string expected = clean.p.Execute(kNested);
  ASSERT_EQ(expected,
            "a<t>b<loop>(<i><if>yes<x>[in]<x>[1<#x#>2<#/x#>3])(<i><if>yes<x>[in]<x>[1<#x#>2<#/x#>"
            "3])c<x>[z]<u><x>open");
  const std::vector<Call> calls = clean.seen;
  ASSERT_EQ(calls.size(), 21u);

  FailingProducer f;
  for (int k = 0; k < static_cast<int>(calls.size()); ++k) {
    SCOPED_TRACE("throwing at call " + std::to_string(k));
    f.calls = 0;
    f.throwAt = k;
    try {
      f.p.Execute(kNested);
      ADD_FAILURE() << "no exception";
    } catch (const Injected& e) {
      EXPECT_EQ(e.call, k);
    }
    EXPECT_EQ(f.p.TagName(), calls[k].name);
    EXPECT_EQ(Lines(*f.p.TagParams()), calls[k].params);
    f.throwAt = -1;
    EXPECT_EQ(f.p.ContentFromString("<#fresh a=1#>!<#x#>b<#/x#>"), "<fresh>!<x>[b]");
    EXPECT_EQ(f.p.Execute(kNested), expected);
  }
}

// Under AddressSanitizer and ThreadSanitizer every strstr call measures the
// whole rest of its text, which makes stepping through a long NUL-terminated
// text with the public steps quadratic there: they get a shallower nesting.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VEK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VEK_SANITIZED 1
#endif
#endif
#if defined(VEK_SANITIZED)
constexpr int kPublicDepth = 5000;
#else
constexpr int kPublicDepth = 100000;
#endif

namespace {

// Runs Body on a thread with a stack of StackBytes.
void OnSmallStack(size_t StackBytes, const std::function<void()>& Body) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, StackBytes), 0);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&Body)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

}  // namespace

// 100,000 nested pairs of one name, matched on a 256 KiB stack: the matcher
// keeps a count, not a stack frame per level.
TEST(Failure, DeepNestingNeedsNoStack) {
  const int n = 100000;
  const std::string open = Repeat("<#x#>", n), close = Repeat("<#/X#>", n);
  const std::string nested = open + "." + close;
  const std::string publicNested =
      Repeat("<#x#>", kPublicDepth) + "." + Repeat("<#/X#>", kPublicDepth);
  std::string out, fewerClosers, unclosed, inner;
  int innerPos = 5;  // just after the first opener
  OnSmallStack(256 * 1024, [&] {
    TVekPageProducer p(nullptr);
    p.SetOnVekTag([](TObject*, const AnsiString& name, TStrings*, AnsiString&, int& st) {
      if (name == "x") st = rsPairTag;
    });
    p.SetOnVekPairTag([](TObject*, const AnsiString&, TStrings*, const AnsiString& body,
                         AnsiString& ret, int&) { ret = std::to_string(body.size()); });
    out = p.Execute(nested + "!");
    // The outermost pair finds no closer: every opener then degrades or
    // matches one level further in.
    fewerClosers = p.Execute(nested.substr(0, nested.size() - 6));
    unclosed = p.Execute(open + "!");
    p.ExtractInnerText("x", publicNested.c_str(), innerPos, inner);
  });
  EXPECT_EQ(out, std::to_string(nested.size() - 11) + "!");
  EXPECT_EQ(fewerClosers, std::to_string(nested.size() - 22));
  EXPECT_EQ(unclosed, "!");
  EXPECT_EQ(inner, publicNested.substr(5, publicNested.size() - 11));
  EXPECT_EQ(innerPos, static_cast<int>(publicNested.size()));
}
