// The shared encoding layer: UTF-8 decoding against a table of well-formed
// and malformed sequences, encoding round trips, and little-endian numbers.
#include "Encoding.h"

#include <gtest/gtest.h>

#include <string>

#include "PackageResources.h"

namespace {

struct Utf8Case {
  const char* What;
  std::string Bytes;
  std::size_t Length;  // 0: refused
  char32_t CodePoint;
};

const Utf8Case kUtf8Cases[] = {
    {"ASCII", "A", 1, U'A'},
    {"two bytes", "\xC3\xA9", 2, 0xE9},
    {"three bytes", "\xE2\x82\xAC", 3, 0x20AC},
    {"four bytes", "\xF0\x9F\x98\x80", 4, 0x1F600},
    {"largest code point", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
    {"last before surrogates", "\xED\x9F\xBF", 3, 0xD7FF},
    {"followed by more", "\xC3\xA9Z", 2, 0xE9},
    {"overlong 2-byte slash", "\xC0\xAF", 0, 0},
    {"overlong 2-byte NUL", "\xC0\x80", 0, 0},
    {"overlong 2-byte at C1", "\xC1\xBF", 0, 0},
    {"overlong 3-byte", "\xE0\x80\xAF", 0, 0},
    {"overlong 3-byte below U+0800", "\xE0\x9F\xBF", 0, 0},
    {"overlong 4-byte", "\xF0\x80\x80\xAF", 0, 0},
    {"overlong 4-byte below U+10000", "\xF0\x8F\xBF\xBF", 0, 0},
    {"first surrogate", "\xED\xA0\x80", 0, 0},
    {"last surrogate", "\xED\xBF\xBF", 0, 0},
    {"above U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
    {"lead F5", "\xF5\x80\x80\x80", 0, 0},
    {"lead F8", "\xF8\x88\x80\x80\x80", 0, 0},
    {"lead FF", "\xFF", 0, 0},
    {"stray continuation", "\x80", 0, 0},
    {"truncated 2-byte", "\xC3", 0, 0},
    {"truncated 3-byte", "\xE2\x82", 0, 0},
    {"truncated 4-byte", "\xF0\x9F\x98", 0, 0},
    {"continuation replaced by ASCII",
     "\xE2"
     "A"
     "\xAC",
     0, 0},
    {"continuation replaced by a lead", "\xC3\xC3", 0, 0},
};

TEST(Encoding, DecodeUtf8AcceptsWellFormedAndRefusesMalformedSequences) {
  for (const Utf8Case& c : kUtf8Cases) {
    SCOPED_TRACE(c.What);
    char32_t cp = 0;
    EXPECT_EQ(vek_encoding::DecodeUtf8(c.Bytes, 0, cp), c.Length);
    if (c.Length != 0) {
      EXPECT_EQ(cp, c.CodePoint);
      std::string again;
      vek_encoding::AppendUtf8(again, cp);
      EXPECT_EQ(again, c.Bytes.substr(0, c.Length));
    }
  }
}

// The code-page converter of version strings runs the same decoder: every
// refused sequence is an error there, every accepted one is copied.
TEST(Encoding, VersionStringsInUtf8UseTheSameRules) {
  for (const Utf8Case& c : kUtf8Cases) {
    SCOPED_TRACE(c.What);
    const std::string whole = c.Bytes.substr(0, c.Length == 0 ? c.Bytes.size() : c.Length);
    if (c.Length == 0)
      EXPECT_THROW(CodePageToUtf8(whole, vek_encoding::kCodePageUtf8), EPackageError);
    else
      EXPECT_EQ(CodePageToUtf8(whole, vek_encoding::kCodePageUtf8), whole);
  }
}

TEST(Encoding, LittleEndianNumbersRoundTrip) {
  std::string out;
  vek_encoding::PutU16(out, 0xBEEF);
  vek_encoding::PutU32(out, 0x01234567u);
  ASSERT_EQ(out, std::string("\xEF\xBE\x67\x45\x23\x01", 6));
  const auto* p = reinterpret_cast<const unsigned char*>(out.data());
  EXPECT_EQ(vek_encoding::GetU16(p), 0xBEEF);
  EXPECT_EQ(vek_encoding::GetU32(p + 2), 0x01234567u);
}

}  // namespace
