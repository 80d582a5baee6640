// Distinct producers on distinct threads, side by side. Run under
// ThreadSanitizer in CI; the test list runs it in a UTF-8 locale, so that
// the threads also share the locale's upper-casing rules, built at the
// first use, which they all reach at about the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "TextRoutines.h"

namespace {

const std::string kLoop = "\xd0\xbf\xd0\xb5\xd1\x82\xd0\xbb\xd1\x8f";  // петля
const std::string kLOOP = "\xd0\x9f\xd0\x95\xd0\xa2\xd0\x9b\xd0\xaf";  // ПЕТЛЯ

// Everything one thread does with its own producers; returns what it saw.
std::string Work(int Seed) {
  TComponent owner(nullptr);
  auto* p = new TVekPageProducer(&owner);  // freed by its owner
  const std::string tag = "t" + std::to_string(Seed);
  p->SetOnVekTag([&](TObject*, const AnsiString& name, TStrings* params, AnsiString& ret, int& st) {
    if (name == kLoop || name == "x") st = rsPairTag;
    ret = name == "n" ? params->Values("v") : name == "seed" ? tag : "";
  });
  p->SetOnVekPairTag([&](TObject* sender, const AnsiString& name, TStrings*, const AnsiString& body,
                         AnsiString& ret, int&) {
    const AnsiString keep = body;
    const int n = name == "x" ? 1 : 3;
    for (int k = 0; k < n; ++k)
      ret += static_cast<TVekPageProducer*>(sender)->ContentFromString(keep);
  });
  std::string seen;
  const std::string doc = "<#" + kLoop + "#>(<#n v=" + std::to_string(Seed) +
                          "#><#x#><#seed#><#/X#>)<#/" + kLOOP + "#>!";
  seen += p->Execute(doc) + "|";
  p->HTMLDoc()->SetText(doc + "\nline two <#seed#>");
  seen += p->Content() + "|";
  TStringStream stream(doc);
  seen += p->ContentFromStream(&stream) + "|";
  seen += p->HTMLResult()->Text() + "|";
  TVekPageProducer second(nullptr);  // a second producer on the same thread
  second.SetVekTagBeg("{");
  second.SetVekTagEnd("}");
  seen += second.Execute("a{b}c") + "|";
  seen += AnsiUpperCase(kLoop + tag);
  return seen;
}

}  // namespace

TEST(Threads, ProducersOnSeveralThreadsRunSideBySide) {
  const int threads = 8, rounds = 50;
  std::vector<std::vector<std::string>> seen(threads);
  std::atomic<int> ready{0};
  {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < threads) std::this_thread::yield();
        for (int r = 0; r < rounds; ++r) seen[t].push_back(Work(t));
      });
    for (auto& th : pool) th.join();
  }
  for (int t = 0; t < threads; ++t) {
    const std::string expected = Work(t);  // the same work, alone
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(rounds));
    for (const std::string& s : seen[t]) ASSERT_EQ(s, expected) << "thread " << t;
  }
  if (UpperCaseLocaleIsUtf8()) {
    const std::string one = "(1t1)";
    EXPECT_EQ(seen[1][0].substr(0, 16), one + one + one + "!");
  }
}
