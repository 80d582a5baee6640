// Allocation failure at every allocation of an expansion. This binary
// replaces the global operator new and delete: they count the blocks alive
// and can be told to fail the n-th allocation from now, once or from then
// on. The component and its host libraries allocate through them too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <set>
#include <string>

#include "TestSupport.h"
#include "VekModel.h"

namespace {

long long gCountdown = -1;  // allocations to let through before failing; -1: none
bool gSticky = false;       // keep failing once the first failure came
bool gFired = false;        // a failure was injected since Arm
long long gLive = 0;        // blocks allocated and not yet freed

void Arm(long long N, bool Sticky) {
  gFired = false;
  gSticky = Sticky;
  gCountdown = N;
}

void Disarm() {
  gCountdown = -1;
}

void* Allocate(std::size_t Size) {
  if (gCountdown == 0) {
    gFired = true;
    if (!gSticky) gCountdown = -1;
    throw std::bad_alloc();
  }
  if (gCountdown > 0) --gCountdown;
  void* p = std::malloc(Size == 0 ? 1 : Size);
  if (p == nullptr) throw std::bad_alloc();
  ++gLive;
  return p;
}

void Release(void* P) noexcept {
  if (P == nullptr) return;
  --gLive;
  std::free(P);
}

}  // namespace

#define VEK_REPLACEMENT __attribute__((visibility("default")))
VEK_REPLACEMENT void* operator new(std::size_t n) {
  return Allocate(n);
}
VEK_REPLACEMENT void* operator new[](std::size_t n) {
  return Allocate(n);
}
VEK_REPLACEMENT void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
VEK_REPLACEMENT void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
VEK_REPLACEMENT void operator delete(void* p) noexcept {
  Release(p);
}
VEK_REPLACEMENT void operator delete[](void* p) noexcept {
  Release(p);
}
VEK_REPLACEMENT void operator delete(void* p, std::size_t) noexcept {
  Release(p);
}
VEK_REPLACEMENT void operator delete[](void* p, std::size_t) noexcept {
  Release(p);
}
VEK_REPLACEMENT void operator delete(void* p, const std::nothrow_t&) noexcept {
  Release(p);
}
VEK_REPLACEMENT void operator delete[](void* p, const std::nothrow_t&) noexcept {
  Release(p);
}

namespace {

// Pairs, nested pairs, a pair without closer, and a loop that expands its
// body again through the same producer.
// Bodies and parameters are longer than a string holds without the heap.
const std::string kDoc =
    "head <#a p=1 'q r and more than fifteen'#> <#loop n=2#>(<#i#><#x#>in, long enough"
    "<#x#>b<#/x#><#/X#>)<#/loop#><#x#>unclosed<#y long-enough-to-need-the-heap=1#>tail"
    "<#x#>c, long enough to be on the heap<#/x#>.";

// The same handlers on the component and on the model.
template <class Params>
void Answer(const std::string& name, Params& params, std::string& ret, int& st) {
  ret = "<" + name + ">";
  for (const auto& s : params) ret += s;
  if (name == "loop" || name == "x") st = rsPairTag;
}

struct Producers {
  TVekPageProducer p{nullptr};
  vekmodel::Producer m;
  Producers() {
    p.SetOnVekTag([](TObject*, const AnsiString& name, TStrings* params, AnsiString& ret, int& st) {
      Answer(name, *params, ret, st);
    });
    p.SetOnVekPairTag([this](TObject*, const AnsiString& name, TStrings*, const AnsiString& body,
                             AnsiString& ret, int&) {
      const AnsiString keep = body;
      for (int k = 0; k < (name == "loop" ? 2 : 1); ++k) ret += "[" + p.ContentFromString(keep);
    });
    m.OnVekTag = [](vekmodel::Producer&, const std::string& name, vekmodel::Params* params,
                    std::string& ret, int& st) { Answer(name, *params, ret, st); };
    m.OnVekPairTag = [this](vekmodel::Producer&, const std::string& name, vekmodel::Params*,
                            const std::string& body, std::string& ret, int&) {
      const std::string keep = body;
      for (int k = 0; k < (name == "loop" ? 2 : 1); ++k) ret += "[" + m.ContentFromString(keep);
    };
  }
};

// What the expansion may give when one allocation fails inside the pair
// matcher, which turns the failure into "no body": the model's output with
// the j-th pair step failing, for every j.
std::set<std::string> DegradedOutputs(Producers& s) {
  std::set<std::string> outs;
  for (int j = 0;; ++j) {
    int step = 0;
    bool failed = false;
    s.m.BeforeMatch = [&] {
      if (step++ == j) {
        failed = true;
        throw std::bad_alloc();
      }
    };
    const std::string out = s.m.Execute(kDoc);
    if (!failed) break;
    outs.insert(out);
  }
  s.m.BeforeMatch = nullptr;
  return outs;
}

// Prepared: kDoc and the texts of its pair bodies are prepared before (the
// producer keeps them); otherwise the producer keeps no prepared texts, and
// every expansion scans.
void FailEveryAllocation(bool Sticky, bool Prepared) {
  Producers s;
  if (!Prepared) s.p.SetPreparedTextLimits(0, 0);
  for (int i = 0; i < 3; ++i) s.p.Execute(kDoc), s.p.Execute("<#z#>");
  const std::string expected = s.p.Execute(kDoc);
  ASSERT_EQ(expected, s.m.Execute(kDoc));
  const std::set<std::string> degraded = DegradedOutputs(s);
  ASSERT_GE(degraded.size(), 5u);

  long long n = 0, swallowed = 0;
  for (;; ++n) {
    SCOPED_TRACE("failing allocation " + std::to_string(n));
    s.p.Execute("<#z#>");  // the tag fields hold no blocks of their own now
    const long long live = gLive;
    bool threw = false, fired;
    std::string out;
    Arm(n, Sticky);
    try {
      out = s.p.Execute(kDoc);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    fired = gFired;
    Disarm();
    if (!fired) {  // past the expansion's last allocation
      EXPECT_EQ(out, expected);
      break;
    }
    if (!threw && !Sticky) {
      // Only the pair matcher catches: the failure came there, and that
      // pair degraded to a single tag.
      EXPECT_EQ(degraded.count(out), 1u) << out;
    }
    swallowed += !threw;
    std::string().swap(out);  // frees its block; assigning "" would keep it
    s.p.Execute("<#z#>");
    EXPECT_EQ(gLive, live) << "blocks leaked";
    EXPECT_EQ(s.p.Execute(kDoc), expected) << "the producer works again";
  }
  // Scanning, the table built after a failed match reuses the buffers of the
  // one built before, so that fewer allocations remain to fail.
  EXPECT_GT(n, Prepared ? 10 : 15) << "the expansion should allocate";
  EXPECT_GT(swallowed, 0) << "some failures should come in the pair matcher";
  std::printf(
      "%s failure%s: %lld allocations of an expansion failed in turn, %lld in the matcher\n",
      Sticky ? "sticky" : "one-shot", Prepared ? " (prepared)" : "", n, swallowed);
}

}  // namespace

TEST(AllocationFailure, EachAllocationFailingOnce) {
  FailEveryAllocation(false, false);
  FailEveryAllocation(false, true);
}

TEST(AllocationFailure, EachAllocationFailingFromThenOn) {
  FailEveryAllocation(true, false);
  FailEveryAllocation(true, true);
}

TEST(AllocationFailure, TheHooksSeeTheComponentsAllocations) {
  TVekPageProducer p(nullptr);
  Arm(0, false);
  EXPECT_THROW(p.Execute("a long enough template to be allocated <#x#>"), std::bad_alloc);
  EXPECT_TRUE(gFired);
  Disarm();
}
