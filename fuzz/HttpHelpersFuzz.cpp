// Fuzz target of vekpp serve's parsers of hostile request text: Range
// headers, conditional-request validators, request targets and the site's
// names. No model: each answer is checked against what its contract says.
//
// Input: one byte choosing the helper, then
//   0 ranges:     one byte picking the file's size, the Range header value;
//   1 target:     a Host (a short string), the request target;
//   2 validators: If-None-Match (a short string), If-Modified-Since (rest).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "http/HttpTypes.h"
#include "http/Ranges.h"
#include "http/RequestTarget.h"
#include "http/Validators.h"
#include "site/SiteNames.h"

namespace {

[[noreturn]] void Broken(const char* What, const std::string& Input) {
  std::fprintf(stderr, "BROKEN CONTRACT: %s for %s\n", What, vekfuzz::Escape(Input).c_str());
  std::abort();
}

void Ranges(vekfuzz::Input& In) {
  static const uint64_t kSizes[] = {0, 1, 2, 10, 1000, uint64_t{1} << 62, ~uint64_t{0}};
  const uint64_t size = kSizes[In.Byte() % (sizeof kSizes / sizeof kSizes[0])];
  const std::string value = In.Rest();
  std::vector<TByteRange> out;
  const size_t maxRanges = 8;
  const TRangeAnswer answer = VekParseRanges(value, size, maxRanges, out);
  if (answer == TRangeAnswer::Unsatisfiable && !out.empty())
    Broken("unsatisfiable with ranges", value);
  if (answer != TRangeAnswer::Partial) return;
  if (out.empty() || out.size() > maxRanges) Broken("partial with no or too many ranges", value);
  for (size_t i = 0; i < out.size(); ++i) {
    const TByteRange& r = out[i];
    if (r.Length == 0 || r.Offset >= size || r.Length > size - r.Offset)
      Broken("a range outside the file", value);
    for (size_t k = 0; k < i; ++k) {
      const TByteRange& o = out[k];
      if (r.Offset <= o.Offset + o.Length && o.Offset <= r.Offset + r.Length)
        Broken("ranges that overlap or touch", value);
    }
  }
}

void Target(vekfuzz::Input& In) {
  const std::string host = In.Short(20);
  const std::string target = In.Rest();
  // The origin form of any target begins with "/"; a query for a Location
  // header holds no byte a header or URL may not.
  std::string origin;
  if (VekOriginForm(target, host, origin) && (origin.empty() || origin[0] != '/'))
    Broken("an origin form that is not a path", target);
  for (const unsigned char c : VekLocationQuery(target)) {
    if (c <= ' ' || c >= 0x7f || c == '"' || c == '<' || c == '>')
      Broken("a byte a Location may not hold", target);
  }
  std::string path;
  if (!VekDecodeTarget(target, path)) return;
  if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos ||
      path.size() > target.size())
    Broken("a decoded path that is not one", target);
  std::string name;
  if (VekSiteName(path, name) != TSiteNameAnswer::Public) return;
  // Every part of a public name is itself public and never "." or "..".
  size_t start = 0;
  while (!name.empty() && start <= name.size()) {
    size_t slash = name.find('/', start);
    if (slash == std::string::npos) slash = name.size();
    const std::string part = name.substr(start, slash - start);
    if (VekPrivateName(part) || part == "..") Broken("a private or parent part published", target);
    start = slash + 1;
  }
  // Encoded for a Location header, it decodes back to the same name.
  std::string back;
  if (!VekDecodeTarget("/" + VekPercentEncode(name), back) || back != "/" + name)
    Broken("percent-encoding that does not decode back", target);
}

void Validators(vekfuzz::Input& In) {
  THttpRequest request;
  request.Headers.emplace_back("If-None-Match", In.Short(40));
  const std::string since = In.Rest();
  request.Headers.emplace_back("If-Modified-Since", since);
  VekNotModified(request, "\"p0123456789abcdef-10\"", 1000000000);
  request.Headers.erase(request.Headers.begin());
  VekNotModified(request, "\"x\"", 1000000000);
  std::time_t t = 0;
  if (VekParseHttpDate(since, t)) {
    std::time_t again = 0;
    if (!VekParseHttpDate(VekHttpDate(t), again) || again != t)
      Broken("a date that does not read back", since);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  vekfuzz::Input in(Data, Size);
  switch (in.Byte() % 3) {
    case 0:
      Ranges(in);
      break;
    case 1:
      Target(in);
      break;
    default:
      Validators(in);
      break;
  }
  return 0;
}
