// The delimiter search: FindBytes (vectorised where the target allows), its
// long-stretch part with either vector width, and FindBytesPlain against
// std::string_view::find, on buffers of exactly the searched size so that the
// sanitizers see any read past either end.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "FindBytes.h"

namespace {

using vek::FindBytes;
using vek::FindBytesPlain;
using vek::kNotFound;

// What both routines must answer: the first occurrence at or after From.
std::size_t Expected(std::string_view hay, std::size_t from, std::string_view needle) {
  if (needle.empty() || from > hay.size()) return kNotFound;
  const std::size_t f = hay.find(needle, from);
  return f == std::string_view::npos ? kNotFound : f;
}

// Copies of the texts on the heap, exactly as long as they are.
struct Exact {
  std::unique_ptr<char[]> hay, needle;
  std::size_t haySize, needleSize;
  Exact(std::string_view h, std::string_view n)
      : hay(new char[h.size() ? h.size() : 1]),
        needle(new char[n.size() ? n.size() : 1]),
        haySize(h.size()),
        needleSize(n.size()) {
    std::copy(h.begin(), h.end(), hay.get());
    std::copy(n.begin(), n.end(), needle.get());
  }
};

void Check(std::string_view hay, std::size_t from, std::string_view needle) {
  const Exact e(hay, needle);
  const std::size_t want = Expected(hay, from, needle);
  ASSERT_EQ(FindBytes(e.hay.get(), e.haySize, from, e.needle.get(), e.needleSize), want)
      << testing::PrintToString(std::string(hay)) << " from " << from << " needle "
      << testing::PrintToString(std::string(needle));
  ASSERT_EQ(FindBytesPlain(e.hay.get(), e.haySize, from, e.needle.get(), e.needleSize), want)
      << testing::PrintToString(std::string(hay)) << " from " << from;
  if (needle.size() < 2 || from > hay.size() || hay.size() - from < needle.size()) return;
  const vek::Needle n(e.needle.get(), e.needleSize);
  const char* end = e.hay.get() + (e.haySize - e.needleSize) + 1;
  for (const bool wide : {false, vek::detail::HasWideVectors()}) {
    ASSERT_EQ(vek::detail::FindFarWith(e.hay.get(), e.hay.get() + from, end, n, wide), want)
        << testing::PrintToString(std::string(hay)) << " from " << from << " wide " << wide;
  }
}

// FindBytesOrNul: the first start of the needle or NUL byte, against the
// string_view search up to the first NUL, at every vector width the
// processor has.
void CheckOrNul(std::string_view hay, std::size_t from, std::string_view needle) {
  const Exact e(hay, needle);
  std::size_t want = kNotFound;
  if (from < hay.size()) {
    const std::size_t nul = hay.find('\0', from);
    const std::string_view visible = hay.substr(0, nul);
    const std::size_t f = needle.empty() ? std::string_view::npos : visible.find(needle, from);
    want = f != std::string_view::npos ? f : nul != std::string_view::npos ? nul : kNotFound;
  }
  const auto show = [&] {
    return testing::PrintToString(std::string(hay)) + " from " + std::to_string(from) + " needle " +
           testing::PrintToString(std::string(needle));
  };
  ASSERT_EQ(vek::FindBytesOrNulPlain(e.hay.get(), e.haySize, from, e.needle.get(), e.needleSize),
            want)
      << show();
  const vek::Needle n(e.needle.get(), e.needleSize);
  ASSERT_EQ(vek::FindBytesOrNul(e.hay.get(), e.haySize, from, n), want) << show();
  if (needle.empty() || from > hay.size()) return;
  for (const int width : {16, 32, 64}) {
    if (width > vek::detail::OrNulWidth()) continue;
    ASSERT_EQ(vek::detail::FindFarOrNulWith(e.hay.get(), e.haySize, e.hay.get() + from, n, width),
              want)
        << show() << " width " << width;
  }
}

}  // namespace

TEST(FindBytes, Basics) {
  Check("", 0, "<#");
  Check("abc", 0, "");
  Check("abc", 4, "a");
  Check("abc", 3, "c");
  Check("<#", 0, "<#");
  Check("<", 0, "<#");
  Check("a<b<c<#d", 0, "<#");
  Check("<<#", 0, "<#");
  Check("###>", 0, "#>");
  Check("x[[t]]]y", 3, "]]]");
  Check(std::string("a\0b\0<#", 6), 0, "<#");
  Check(std::string("a\0b", 3), 0, std::string("\0b", 2));
  Check("\xff\xfe\xff\xfe#", 0, "\xfe#");
}

// The needle at every position of buffers around the block sizes, with
// near-misses (first and last byte right, middle wrong) before it.
TEST(FindBytes, EveryPositionAroundBlockEdges) {
  for (const std::string needle :
       {"<#", "#>", "]]]", "<!--", "abcdefghijklmnopqrstuvwxyz0123456"}) {
    for (std::size_t size = needle.size(); size <= 100; ++size) {
      for (std::size_t at = 0; at + needle.size() <= size; ++at) {
        std::string hay(size, '<');
        if (needle.size() > 2 && at >= needle.size()) {
          std::string miss = needle;
          miss[1] = '\x01';
          hay.replace(at - needle.size(), needle.size(), miss);
        }
        hay.replace(at, needle.size(), needle);
        Check(hay, 0, needle);
        Check(hay, at, needle);
        Check(hay, at + 1 <= size ? at + 1 : size, needle);
      }
      Check(std::string(size, '<'), 0, needle);
    }
  }
}

// Long texts, around the widths of the wide vectors: the needle at every
// position, once alone and once after a near miss.
TEST(FindBytes, EveryPositionInLongerTexts) {
  for (const std::string needle : {"<#", "#>", "]]]", "<!--"}) {
    for (const std::size_t size : {63, 64, 65, 127, 128, 129, 191, 192, 193, 255, 256, 300}) {
      for (std::size_t at = 0; at + needle.size() <= size; ++at) {
        std::string hay(size, at % 2 ? '<' : '#');
        hay.replace(at, needle.size(), needle);
        Check(hay, 0, needle);
        Check(hay, at / 2, needle);
      }
    }
  }
}

// Random texts over a few bytes that the needles share: overlapping and
// repeated needles, NULs, high bytes, all offsets and lengths.
TEST(FindBytes, AgreesWithThePlainSearchOnRandomInput) {
  std::mt19937 rng(2024);
  const char alphabet[] = {'<', '#', '>', 'a', '\0', '\xff', '\x80', ' '};
  auto randomText = [&](std::size_t n, std::size_t letters) {
    std::string s(n, ' ');
    for (char& c : s) c = alphabet[rng() % letters];
    return s;
  };
  for (int round = 0; round < 20000; ++round) {
    const std::size_t letters = 2 + rng() % 7;
    const std::string hay = randomText(rng() % (round % 4 ? 140 : 700), letters);
    std::string needle = randomText(1 + rng() % 5, letters);
    if (rng() % 3 == 0 && !hay.empty()) {  // a needle taken from the text, often near its end
      const std::size_t at = rng() % 2
                                 ? hay.size() - 1 - rng() % std::min<std::size_t>(hay.size(), 4)
                                 : rng() % hay.size();
      needle = hay.substr(at, 1 + rng() % 6);
    }
    const std::size_t from = hay.empty() ? 0 : rng() % (hay.size() + 2);
    Check(hay, from, needle);
  }
}

// The needle or a NUL at every position of texts around the vector widths,
// each alone and both together (the earlier one answers), after near misses
// (the needle's last byte alone, which the wide steps test first).
TEST(FindBytesOrNul, EveryPositionOfNeedleAndNul) {
  for (const std::string needle : {"<#", "#>", "]]]", "<!--", "#"}) {
    for (const std::size_t size : {0, 1, 5, 31, 32, 33, 64, 65, 66, 67, 70, 127, 128, 130, 200}) {
      const std::string base = [&] {
        std::string h(size, 'a');
        for (std::size_t i = 3; i < size; i += 7) h[i] = needle.back();
        return h;
      }();
      CheckOrNul(base, 0, needle);
      for (std::size_t at = 0; at < size; ++at) {
        std::string withNul = base;
        withNul[at] = '\0';
        CheckOrNul(withNul, 0, needle);
        CheckOrNul(withNul, at, needle);
        if (at + needle.size() > size) continue;
        std::string withNeedle = base;
        withNeedle.replace(at, needle.size(), needle);
        CheckOrNul(withNeedle, 0, needle);
        CheckOrNul(withNeedle, at / 2, needle);
        for (const std::size_t nulAt : {at + needle.size(), at + needle.size() + 40, at / 2}) {
          if (nulAt >= size) continue;
          std::string both = withNeedle;
          if (nulAt < at || nulAt >= at + needle.size()) both[nulAt] = '\0';
          CheckOrNul(both, 0, needle);
        }
      }
    }
  }
}

TEST(FindBytesOrNul, AgreesWithThePlainSearchOnRandomInput) {
  std::mt19937 rng(77);
  const char alphabet[] = {'<', '#', '>', 'a', '\0', '\xff', '\x80', ' '};
  for (int round = 0; round < 20000; ++round) {
    const std::size_t letters = 2 + rng() % 7;
    std::string hay(rng() % (round % 4 ? 140 : 700), ' ');
    for (char& c : hay) c = alphabet[rng() % letters];
    // Mostly no NUL, or one far in: long stretches for the wide steps.
    if (round % 3 != 0)
      for (char& c : hay)
        if (c == '\0') c = 'a';
    if (round % 5 == 0 && !hay.empty()) hay[rng() % hay.size()] = '\0';
    std::string needle(1 + rng() % 5, ' ');
    for (char& c : needle) c = alphabet[rng() % letters];
    for (char& c : needle)
      if (c == '\0') c = '#';  // a delimiter's searched part holds no NUL
    const std::size_t from = hay.empty() ? 0 : rng() % (hay.size() + 2);
    CheckOrNul(hay, from, needle);
  }
}
