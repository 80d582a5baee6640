// The checks of a template's bytes: its encoding, and excerpts for messages.
#include "TextChecks.h"

#include <algorithm>

namespace vekstd {

namespace {

// The offset of the first byte that does not belong to well-formed UTF-8
// (no overlong forms, no surrogates, nothing above U+10FFFF), or -1.
long FirstBadUtf8(const unsigned char* S, size_t N) {
  size_t i = 0;
  while (i < N) {
    const unsigned char c = S[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return static_cast<long>(i);
    }
    if (i + len > N) return static_cast<long>(i);
    if (S[i + 1] < lo || S[i + 1] > hi) return static_cast<long>(i);
    for (size_t k = 2; k < len; ++k) {
      if ((S[i + k] & 0xC0) != 0x80) return static_cast<long>(i);
    }
    i += len;
  }
  return -1;
}

// The encoding a byte-order mark names, or nullptr.
const char* ForeignBom(const AnsiString& T) {
  auto at = [&](size_t i) { return i < T.size() ? static_cast<unsigned char>(T[i]) : 0x100u; };
  if (at(0) == 0xFF && at(1) == 0xFE && at(2) == 0 && at(3) == 0) return "UTF-32 (little-endian)";
  if (at(0) == 0 && at(1) == 0 && at(2) == 0xFE && at(3) == 0xFF) return "UTF-32 (big-endian)";
  if (at(0) == 0xFF && at(1) == 0xFE) return "UTF-16 (little-endian)";
  if (at(0) == 0xFE && at(1) == 0xFF) return "UTF-16 (big-endian)";
  return nullptr;
}

}  // namespace

// A short, printable excerpt of the bytes S[From...].
std::string Excerpt(const AnsiString& S, size_t From) {
  const size_t kMax = 40;
  size_t stop = std::min(S.size(), From + kMax);
  // Do not cut a UTF-8 sequence in two.
  while (stop < S.size() && stop > From && (static_cast<unsigned char>(S[stop]) & 0xC0) == 0x80)
    --stop;
  std::string out = "\"";
  for (size_t i = From; i < stop; ++i) {
    const unsigned char c = static_cast<unsigned char>(S[i]);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 32 || c == 127) {
      static const char hex[] = "0123456789abcdef";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += stop < S.size() ? "\"..." : "\"";
  return out;
}

std::vector<TFinding> EncodingFindings(const AnsiString& Text) {
  std::vector<TFinding> found;
  if (const char* bom = ForeignBom(Text)) {
    found.push_back({0, std::string("the template is ") + bom +
                            " text, by its byte-order mark: only UTF-8 templates are read"});
    return found;
  }
  const size_t nul = Text.find('\0');
  if (nul != AnsiString::npos) {
    found.push_back({static_cast<int>(nul),
                     "a NUL byte: the producer would see the template only up to "
                     "here (a UTF-16 file without a byte-order mark?)"});
  }
  const size_t visible = nul == AnsiString::npos ? Text.size() : nul;
  const long bad = FirstBadUtf8(reinterpret_cast<const unsigned char*>(Text.data()), visible);
  if (bad >= 0) {
    static const char hex[] = "0123456789ABCDEF";
    const unsigned char b = static_cast<unsigned char>(Text[static_cast<size_t>(bad)]);
    found.push_back({static_cast<int>(bad), std::string("not UTF-8: the byte 0x") + hex[b >> 4] +
                                                hex[b & 15] + " starts no valid sequence"});
  }
  std::sort(found.begin(), found.end(),
            [](const TFinding& A, const TFinding& B) { return A.Offset < B.Offset; });
  return found;
}

}  // namespace vekstd
