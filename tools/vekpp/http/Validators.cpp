// HTTP dates, entity tags and the If-None-Match / If-Modified-Since test.
#include "http/Validators.h"

#include <cstdio>
#include <cstring>

std::string VekHttpDate(std::time_t T) {
  std::tm tm{};
  gmtime_r(&T, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return buf;
}

bool VekParseHttpDate(const std::string& S, std::time_t& T) {
  std::tm tm{};
  const char* end = strptime(S.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
  if (!end || *end != '\0') return false;
  // Dates this server writes lie between 1970 and the last second of 9999;
  // anything outside (a leap second on the last day of 9999 rolls over into
  // a five-digit year) is no date it sent and would not read back.
  constexpr std::time_t Last = 253402300799;  // 9999-12-31 23:59:59 GMT
  T = timegm(&tm);
  return T >= 0 && T <= Last;
}

std::string VekContentETag(const std::string& Body) {
  // FNV-1a over the bytes: not a defence against anyone, only a name for
  // this version of the page.
  uint64_t h = 1469598103934665603ull;
  for (const unsigned char c : Body) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "\"p%016llx-%llx\"", static_cast<unsigned long long>(h),
                static_cast<unsigned long long>(Body.size()));
  return buf;
}

namespace {

// True when the list of tags List ("a", W/"b", *) holds ETag, weakly compared.
bool ListHolds(const std::string& List, const std::string& ETag) {
  size_t i = 0;
  while (i < List.size()) {
    while (i < List.size() && (List[i] == ' ' || List[i] == '\t' || List[i] == ',')) ++i;
    if (i >= List.size()) break;
    if (List[i] == '*') return true;
    if (List.compare(i, 2, "W/") == 0) i += 2;
    if (i >= List.size() || List[i] != '"') return false;
    const size_t close = List.find('"', i + 1);
    if (close == std::string::npos) return false;
    if (List.compare(i, close + 1 - i, ETag) == 0) return true;
    i = close + 1;
  }
  return false;
}

}  // namespace

bool VekNotModified(const THttpRequest& Request, const std::string& ETag, std::time_t Modified) {
  if (const std::string* tags = Request.Header("If-None-Match")) return ListHolds(*tags, ETag);
  if (Modified < 0) return false;
  const std::string* since = Request.Header("If-Modified-Since");
  std::time_t t = 0;
  // A date still to come is no date this server sent: ignored.
  return since && VekParseHttpDate(*since, t) && t <= std::time(nullptr) && Modified <= t;
}
