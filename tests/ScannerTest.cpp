// Finding the next tag: ExtractNextTag.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "TestSupport.h"

namespace {
struct ScanCase {
  std::string text;
  int pos;
  std::string beg, end;
  bool found;
  std::string before, tag;
  int newPos;
};
}  // namespace

TEST(Scanner, FindsTheNextTag) {
  const ScanCase cases[] = {
      {"abc", 0, "<#", "#>", false, "abc", "", 0},
      {"ab<#  name x=1 \r\n#>cd", 0, "<#", "#>", true, "ab", "name x=1", 19},
      {"<##>", 0, "<#", "#>", true, "", "", 4},
      {"<#>", 0, "<#", "#>", false, "", "", 0},
      {"<#>x#>", 0, "<#", "#>", true, "", ">x", 6},
      {"ab<#cd", 0, "<#", "#>", false, "ab", "", 0},
      {"x[[t]]]y", 0, "[[", "]]]", true, "x", "t", 7},
      {"<#a <#b#>", 0, "<#", "#>", true, "", "a <#b", 9},
      {"<#a 'q#>'#>", 0, "<#", "#>", true, "", "a 'q", 8},
      {"<#a#>zz<#b#>", 5, "<#", "#>", true, "zz", "b", 12},
      {"<#a#>zz", 5, "<#", "#>", false, "zz", "", 5},
      {"x<#\x01\x80tag\x80\x1f#>", 0, "<#", "#>", true, "x", "\x80tag\x80", 12},
      {"a{b}c", 0, "{", "}", true, "a", "b", 4},
      {"a||b||c", 0, "|", "|", true, "a", "", 3},
      {"aXXbXXc", 0, "XX", "XX", true, "a", "b", 6},
      {std::string("ab\0<#x#>", 8), 0, "<#", "#>", false, "ab", "", 0},
      {"ab<#x#>", 0, "", "#>", false, "ab<#x#>", "", 0},
      {"ab<#x#>", 0, "<#", "", false, "ab", "", 0},
      {"a<#x#>", 0, std::string("<\0", 2), "#>", true, "a", "#x", 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    TVekPageProducer p(nullptr);
    p.SetVekTagBeg(c.beg);
    p.SetVekTagEnd(c.end);
    int pos = c.pos;
    AnsiString before = "^", tag = "stale";
    EXPECT_EQ(p.ExtractNextTag(c.text.c_str(), pos, &before, &tag), c.found);
    EXPECT_EQ(before, "^" + c.before) << "Before is appended to, never assigned";
    EXPECT_EQ(tag, c.tag);
    EXPECT_EQ(pos, c.newPos);
  }
}

TEST(Scanner, BeforeIsOptionalAndArgumentsAreChecked) {
  TVekPageProducer p(nullptr);
  int pos = 0;
  AnsiString tag;
  EXPECT_TRUE(p.ExtractNextTag("a<#t#>", pos, nullptr, &tag));
  EXPECT_EQ(tag, "t");
  EXPECT_THROW(p.ExtractNextTag("a", pos, nullptr, nullptr), std::invalid_argument);
  EXPECT_THROW(p.ExtractNextTag(nullptr, pos, nullptr, &tag), std::invalid_argument);
  pos = -1;
  EXPECT_THROW(p.ExtractNextTag("a", pos, nullptr, &tag), std::out_of_range);
}

#if defined(__linux__)
TEST(Scanner, APositionThatWouldNotFitAnIntThrowsAndChangesNothing) {
  // A sparse 2 GiB mapping: only the page holding the template is touched.
  const size_t size = (size_t{1} << 31) + 4096;
  void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  char* text = static_cast<char*>(map);
  const int pos0 = INT_MAX - 3;
  std::memcpy(text + pos0, "ab<#t#>", 7);
  TVekPageProducer p(nullptr);
  int pos = pos0;
  AnsiString before = "b", tag = "t0";
  EXPECT_THROW(p.ExtractNextTag(text, pos, &before, &tag), std::overflow_error);
  EXPECT_EQ(pos, pos0);
  EXPECT_EQ(before, "b");
  EXPECT_EQ(tag, "t0");
  AnsiString inner = "i0";
  std::memcpy(text + pos0, "b<#/x#>", 7);
  EXPECT_THROW(p.ExtractInnerText("x", text, pos, inner), std::overflow_error);
  EXPECT_EQ(pos, pos0);
  EXPECT_EQ(inner, "i0");
  pos = INT_MAX - 6;  // fits: the tag ends exactly at INT_MAX
  std::memcpy(text + pos, "a<#t#>", 6);
  EXPECT_TRUE(p.ExtractNextTag(text, pos, nullptr, &tag));
  EXPECT_EQ(pos, INT_MAX);
  munmap(map, size);
}
#endif
