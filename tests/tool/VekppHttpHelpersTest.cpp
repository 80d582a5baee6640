// vekpp serve's parsers of request text, called directly: Range headers,
// validators, request targets and the site's private names, each a table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/HttpTypes.h"
#include "http/Ranges.h"
#include "http/RequestTarget.h"
#include "http/Validators.h"
#include "site/SiteNames.h"

namespace {

std::string Show(TRangeAnswer Answer, const std::vector<TByteRange>& Ranges) {
  if (Answer == TRangeAnswer::Whole) return "whole";
  if (Answer == TRangeAnswer::Unsatisfiable) return "416";
  std::string s;
  for (const auto& r : Ranges)
    s += (s.empty() ? "" : ",") + std::to_string(r.Offset) + "+" + std::to_string(r.Length);
  return s;
}

TEST(VekppHttpHelpers, Ranges) {
  struct TCase {
    const char* Value;
    uint64_t Size;
    const char* Want;
  };
  const TCase cases[] = {
      {"bytes=0-99", 1000, "0+100"},
      {"bytes=0-99,200-", 1000, "0+100,200+800"},
      {"bytes=-500", 1000, "500+500"},
      {"bytes=-5000", 1000, "0+1000"},
      {"bytes=990-2000", 1000, "990+10"},
      {"bytes= 1-2 , 4-5", 10, "1+2,4+2"},
      {"bytes=5-,0-1", 10, "5+5,0+2"},
      // Out of the file: 416; malformed, overlapping or too many: whole.
      {"bytes=1000-", 1000, "416"},
      {"bytes=-0", 1000, "416"},
      {"bytes=0-0", 0, "416"},
      {"bytes=5-4", 10, "whole"},
      {"bytes=0-1,1-2", 10, "whole"},
      {"bytes=0-1,2-3", 10, "whole"},
      {"bytes=0-1,", 10, "whole"},
      {"bytes=a-b", 10, "whole"},
      {"bytes=-", 10, "whole"},
      {"items=0-1", 10, "whole"},
      {"bytes=0-0,2-2,4-4,6-6,8-8,10-10,12-12,14-14,16-16", 100, "whole"},
      // Numbers past 2^64 saturate: never a wrapped, small value.
      {"bytes=0-18446744073709551616", 1000, "0+1000"},
      {"bytes=0-18446744073709551615", 1000, "0+1000"},
      {"bytes=18446744073709551616-", 1000, "416"},
      {"bytes=18446744073709551617-18446744073709551618", 1000, "416"},
      {"bytes=-18446744073709551617", 1000, "0+1000"},
      {"bytes=99999999999999999999999999999999-", 1000, "416"},
  };
  for (const TCase& c : cases) {
    std::vector<TByteRange> out;
    const TRangeAnswer answer = VekParseRanges(c.Value, c.Size, 8, out);
    EXPECT_EQ(Show(answer, out), c.Want) << c.Value << " of " << c.Size;
  }
}

TEST(VekppHttpHelpers, Validators) {
  const std::string etag = "\"p1-2\"";
  const std::time_t modified = 1000000000;  // Sun, 09 Sep 2001 01:46:40 GMT
  struct TCase {
    const char* IfNoneMatch;  // nullptr: no header
    const char* IfModifiedSince;
    bool NotModified;
  };
  const TCase cases[] = {
      {"\"p1-2\"", nullptr, true},
      {"W/\"p1-2\"", nullptr, true},
      {"\"a\", \"p1-2\"", nullptr, true},
      {"*", nullptr, true},
      {"\"p1-3\"", nullptr, false},
      {"\"p1-2", nullptr, false},
      // If-None-Match wins over the date.
      {"\"other\"", "Sun, 09 Sep 2001 01:46:40 GMT", false},
      {nullptr, "Sun, 09 Sep 2001 01:46:40 GMT", true},
      {nullptr, "Mon, 10 Sep 2001 00:00:00 GMT", true},
      {nullptr, "Sat, 08 Sep 2001 00:00:00 GMT", false},
      {nullptr, "Sunday, 09-Sep-01 01:46:40 GMT", false},
      {nullptr, "not a date", false},
      // A date to come is no date this server sent.
      {nullptr, "Fri, 31 Dec 9999 23:59:59 GMT", false},
  };
  for (const TCase& c : cases) {
    THttpRequest request;
    if (c.IfNoneMatch) request.Headers.emplace_back("if-none-match", c.IfNoneMatch);
    if (c.IfModifiedSince) request.Headers.emplace_back("If-Modified-Since", c.IfModifiedSince);
    EXPECT_EQ(VekNotModified(request, etag, modified), c.NotModified)
        << (c.IfNoneMatch ? c.IfNoneMatch : "-") << " / "
        << (c.IfModifiedSince ? c.IfModifiedSince : "-");
  }
  std::time_t t = 0;
  ASSERT_TRUE(VekParseHttpDate(VekHttpDate(modified), t));
  EXPECT_EQ(t, modified);
  EXPECT_EQ(VekHttpDate(modified), "Sun, 09 Sep 2001 01:46:40 GMT");
  // Dates that would not read back as the text this server writes.
  for (const char* date : {"Fri, 31 Dec 9999 23:59:60 GMT", "Wed, 31 Dec 1969 23:59:59 GMT"})
    EXPECT_FALSE(VekParseHttpDate(date, t)) << date;
  ASSERT_TRUE(VekParseHttpDate("Fri, 31 Dec 9999 23:59:59 GMT", t));
  EXPECT_EQ(VekHttpDate(t), "Fri, 31 Dec 9999 23:59:59 GMT");
  EXPECT_NE(VekContentETag("a"), VekContentETag("b"));
}

TEST(VekppHttpHelpers, RequestTargetsAndSiteNames) {
  struct TCase {
    const char* Target;
    const char* Want;  // "400", "403", "404", or the name inside the site
  };
  const TCase cases[] = {
      {"/", ""},
      {"/index.html", "index.html"},
      {"//docs/./a//b.html", "docs/a/b.html"},
      {"/a%20b", "a b"},
      {"/%C3%A9", "\xC3\xA9"},
      {"/a/../b", "403"},
      {"/%2e%2e/b", "403"},
      {"/a/..", "403"},
      {"/a/b..c", "a/b..c"},
      {"/_data.json", "404"},
      {"/docs/_layout.html", "404"},
      {"/.git/config", "404"},
      {"/%2egit", "404"},
      {"/a%00b", "400"},
      {"/a%0", "400"},
      {"/%zz", "400"},
      {"docs", "400"},
      {"", "400"},
  };
  for (const TCase& c : cases) {
    std::string path, name, got;
    if (!VekDecodeTarget(c.Target, path)) {
      got = "400";
    } else {
      switch (VekSiteName(path, name)) {
        case TSiteNameAnswer::Parent:
          got = "403";
          break;
        case TSiteNameAnswer::Private:
          got = "404";
          break;
        case TSiteNameAnswer::Public:
          got = name;
          break;
      }
    }
    EXPECT_EQ(got, c.Want) << c.Target;
  }
  EXPECT_EQ(VekPercentEncode("a b/\xC3\xA9?#%_~.-"), "a%20b/%C3%A9%3F%23%25_~.-");
  EXPECT_EQ(VekLocationQuery(""), "");
  EXPECT_EQ(VekLocationQuery("a=1&b=/x"), "?a=1&b=/x");
  EXPECT_EQ(VekLocationQuery("q=\"<script>\" \r\n#\xff"), "?q=%22%3Cscript%3E%22%20%0D%0A%23%FF");
  for (const char* name : {"_layout.html", ".env", ""}) EXPECT_TRUE(VekPrivateName(name)) << name;
  for (const char* name : {"index.html", "a_b", "x."}) EXPECT_FALSE(VekPrivateName(name)) << name;
}

}  // namespace

TEST(VekppHttpHelpers, AbsoluteFormTargets) {
  struct TCase {
    const char* Target;
    const char* Host;
    const char* Want;  // the origin form, or nullptr: refused
  };
  const TCase cases[] = {
      {"/a?b", "x", "/a?b"},
      {"http://x/a/b", "x", "/a/b"},
      {"HTTP://X:8080/a", "x:8080", "/a"},
      {"http://x:8080", "x:8080", "/"},
      {"http://x:8081/a", "x:8080", nullptr},
      {"http://elsewhere/a", "x", nullptr},
      {"http://x@elsewhere/a", "elsewhere", nullptr},
      {"https://x/a", "x", nullptr},
      {"http:///a", "", nullptr},
      {"*", "x", nullptr},
      {"a/b", "x", nullptr},
      {"", "x", nullptr},
  };
  for (const TCase& c : cases) {
    std::string path;
    const bool ok = VekOriginForm(c.Target, c.Host, path);
    EXPECT_EQ(ok, c.Want != nullptr) << c.Target;
    if (ok && c.Want) {
      EXPECT_EQ(path, c.Want) << c.Target;
    }
  }
}
