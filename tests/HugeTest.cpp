// Templates larger than 2.5 GiB through Execute, ContentFromString and
// Content: tags past 2^31 bytes are expanded, and an expansion needs no
// more memory than the template, its output and a small constant (no copy
// of the template per tag). Each test needs about 5.2 GB of memory and some
// seconds; the test list labels them "huge" so that they run on their own
// (make test-huge).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

constexpr size_t kMiB = size_t(1) << 20;
constexpr size_t kGiB = size_t(1) << 30;
constexpr size_t kSize = 2 * kGiB + kGiB / 2 + 64 * kMiB;
constexpr size_t kSlack = 64 * kMiB;  // what an expansion may need beyond its output

// Resident memory of the process, from /proc/self/status.
struct Memory {
  // Starts a new peak from the present resident size; false if the kernel
  // does not allow it.
  static bool ResetPeak() {
    std::ofstream f("/proc/self/clear_refs");
    f << "5" << std::flush;
    return static_cast<bool>(f);
  }
  static size_t Resident() { return Status("VmRSS:"); }
  static size_t Peak() { return Status("VmHWM:"); }
  static size_t Status(const std::string& Key) {
    std::ifstream f("/proc/self/status");
    for (std::string line; std::getline(f, line);)
      if (line.compare(0, Key.size(), Key) == 0) return std::stoull(line.substr(Key.size())) * 1024;
    return 0;
  }
};

// Runs Expand and checks that the process grew by no more than Allowed
// bytes above the resident size before it.
template <class F>
std::string Measured(const char* What, size_t Allowed, F Expand) {
  const bool reset = Memory::ResetPeak();
  const size_t before = Memory::Resident();
  std::string out = Expand();
  const size_t growth = Memory::Peak() - before;
  std::printf("%s: output %zu MiB, peak memory growth %zu MiB (allowed %zu MiB)\n", What,
              out.size() / kMiB, growth / kMiB, Allowed / kMiB);
  if (reset)
    EXPECT_LE(growth, Allowed) << What;
  else
    std::printf("  (the peak cannot be reset here: not checked)\n");
  return out;
}

// Builds a template piece by piece and remembers what the output must hold
// for each piece: literal text (a range of the template) or an answer.
class Builder {
 public:
  explicit Builder(size_t Reserve) { doc.reserve(Reserve); }

  std::string doc;

  // N bytes of literal text without any delimiter byte.
  void Literal(size_t N) {
    static const std::string line = "lorem ipsum dolor sit amet 0123456789\r\n";
    const size_t at = doc.size();
    doc.resize(at + N);
    size_t done = std::min(N, line.size());
    std::memcpy(&doc[at], line.data(), done);
    while (done < N) {  // doubling copies
      const size_t n = std::min(done, N - done);
      std::memcpy(&doc[at + done], &doc[at], n);
      done += n;
    }
    FPieces.push_back({at, N, {}});
  }
  void LiteralTo(size_t End) { Literal(End - doc.size()); }
  // Template text Raw whose output is Answer.
  void Tag(const std::string& Raw, const std::string& Answer) {
    doc += Raw;
    FPieces.push_back({0, 0, Answer});
  }

  // Whether Out is exactly what the pieces say.
  ::testing::AssertionResult Matches(const std::string& Out) const {
    size_t at = 0;
    for (const Piece& p : FPieces) {
      const size_t n = p.length != 0 ? p.length : p.answer.size();
      if (at + n > Out.size()) return ::testing::AssertionFailure() << "output too short at " << at;
      const char* want = p.length != 0 ? doc.data() + p.from : p.answer.data();
      if (std::memcmp(Out.data() + at, want, n) != 0)
        return ::testing::AssertionFailure() << "output differs in the " << n << " bytes at " << at;
      at += n;
    }
    if (at != Out.size()) return ::testing::AssertionFailure() << "output too long: " << Out.size();
    return ::testing::AssertionSuccess();
  }

 private:
  struct Piece {
    size_t from, length;  // a literal range of doc, or
    std::string answer;   // the answer to a tag (length 0)
  };
  std::vector<Piece> FPieces;
};

// Answers "[name=first parameter]"; p and x open pairs, whose body comes
// back in braces.
struct HugeProducer {
  TVekPageProducer p{nullptr};
  size_t calls = 0;
  HugeProducer() {
    p.SetOnVekTag(
        [this](TObject*, const AnsiString& name, TStrings* params, AnsiString& ret, int& st) {
          ++calls;
          ret = "[" + name + (params->Count() > 0 ? "=" + params->Get(0) : "") + "]";
          if (name == "p" || name == "x") st = rsPairTag;
        });
    p.SetOnVekPairTag([this](TObject*, const AnsiString&, TStrings*, const AnsiString& body,
                             AnsiString& ret, int&) {
      ++calls;
      ret = "{" + body + "}";
    });
  }
};

}  // namespace

TEST(Huge, ExecuteAndContentFromStringPastTwoGiB) {
  Builder b(kSize);
  b.Tag("<#a n=1#>", "[a=n=1]");
  b.Tag("<#p#>", "[p]");  // never closed: its match scans the whole template
  b.LiteralTo((size_t(1) << 31) - 3);
  b.Tag("<#b n=2#>", "[b=n=2]");  // across the 2^31 boundary
  b.Literal(1000);
  b.Tag("<#p#>", "[p]");
  b.LiteralTo(kSize - 2 * kMiB);
  for (int k = 0; k < 1000; ++k) {
    b.Tag("<#c i=" + std::to_string(k) + "#>", "[c=i=" + std::to_string(k) + "]");
    b.Literal(1000);
  }
  b.Tag("<#x#>", "[x]");
  b.Tag("body <#c i=in#> text<#/X#>", "{body <#c i=in#> text}");
  b.LiteralTo(kSize - 100);
  b.Tag("<#z#>", "[z]");
  b.Literal(50);
  b.Tag("<#never closed", "");
  ASSERT_GT(b.doc.size(), kGiB * 5 / 2);

  HugeProducer h;
  std::string out = Measured("Execute", b.doc.size() + kSlack, [&] { return h.p.Execute(b.doc); });
  EXPECT_TRUE(b.Matches(out));
  EXPECT_EQ(h.calls, 1007u);
  EXPECT_EQ(h.p.TagName(), "z");
  std::string().swap(out);

  out = Measured("ContentFromString", b.doc.size() + kSlack,
                 [&] { return h.p.ContentFromString(b.doc); });
  EXPECT_TRUE(b.Matches(out));
  EXPECT_EQ(h.calls, 2 * 1007u);
}

TEST(Huge, ContentOfAFewLongLines) {
  // One tag spans the lines, its blanks trimmed away, so that the output
  // stays small and only the template's text is held twice.
  const size_t line = kSize / 4;
  HugeProducer h;
  {
    std::string s = "<#a#>head<#big ";
    s.resize(line, ' ');
    h.p.HTMLDoc()->Add(s);
    s.assign(line, ' ');
    h.p.HTMLDoc()->Add(s);
    h.p.HTMLDoc()->Add(s);
    const std::string tail = "#>mid<#x#>in<#/x#><#c i=1#>tail<#unclosed";
    s.resize(line - tail.size());
    h.p.HTMLDoc()->Add(s + tail);
  }
  const size_t text = 4 * (line + 2);
  ASSERT_GT(text, kGiB * 5 / 2);
  const std::string expected = "[a]head[big]mid[x]{in}[c=i=1]tail";
  EXPECT_EQ(Measured("Content", text + kSlack, [&] { return h.p.Content(); }), expected);
  EXPECT_EQ(h.calls, 5u);
  EXPECT_EQ(
      Measured("Execute(TStrings*)", text + kSlack, [&] { return h.p.Execute(h.p.HTMLDoc()); }),
      expected);
}
