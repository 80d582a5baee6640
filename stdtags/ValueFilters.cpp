// The values judged rather than escaped (CSS values outside strings, srcset
// candidates, a meta refresh's URL, the schemes of URLs: a safe value
// through as written, a marker in place of any other), and the inside of a
// CSS url().
#include <cstring>

#include "Escapers.h"

namespace vekstd {

const char* const kUnsafeUrl = "about:invalid#vek";

const char* const kUnsafeCss = "vek-unsafe-css";

namespace {

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// CSS escapes decoded: \ and up to six hex digits (and one blank after
// them), or \ and any other byte. A code point from 128 up decodes to 0x80,
// which no check below looks for.
std::string DecodeCss(const std::string& S) {
  std::string out;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] != '\\' || i + 1 == S.size()) {
      out += S[i];
      continue;
    }
    size_t j = i + 1;
    uint32_t cp = 0;
    while (j < S.size() && j < i + 7 && HexValue(static_cast<unsigned char>(S[j])) >= 0)
      cp = cp * 16 + static_cast<uint32_t>(HexValue(static_cast<unsigned char>(S[j++])));
    if (j == i + 1) {
      out += S[j];  // an escaped byte stands for itself
      i = j;
      continue;
    }
    if (j < S.size() && (S[j] == ' ' || S[j] == '\t' || S[j] == '\n')) ++j;
    out += cp < 0x80 ? static_cast<char>(cp) : static_cast<char>(0x80);
    i = j - 1;
  }
  return out;
}

}  // namespace

std::string FilterCssValue(const std::string& S) {
  const std::string b = DecodeCss(S);
  std::string name;  // the name bytes, lower case, for the words below
  for (size_t i = 0; i < b.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(b[i]);
    switch (c) {
      case '"':
      case '\'':
      case '(':
      case ')':
      case '/':
      case ';':
      case '@':
      case '[':
      case ']':
      case '\\':
      case '`':
      case '{':
      case '}':
      case '<':
      case '>':
      case 0x7F:
        return kUnsafeCss;
      case '-':
        if (i > 0 && b[i - 1] == '-') return kUnsafeCss;  // "--": "-->", custom properties
        name += '-';
        break;
      default:
        if (c < 0x20 && c != '\t') return kUnsafeCss;
        if (IsAlnum(c) || c == '_') name += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
  }
  if (name.find("expression") != std::string::npos ||
      name.find("mozbinding") != std::string::npos || name.find("moz-binding") != std::string::npos)
    return kUnsafeCss;
  return b;
}

std::string EscapeCssUrl(const std::string& S) {
  static const char kKeep[] = "-._~:/?#[]@!$&*+,;=%";
  std::string out;
  out.reserve(S.size());
  for (const char ch : S) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (IsAlnum(c) || (c != 0 && std::strchr(kKeep, c))) {
      out += ch;
    } else {
      out += '%';
      AppendHex2(out, c);
    }
  }
  return out;
}

std::string FilterSrcset(const std::string& Prefix, const std::string& S) {
  // Candidates are separated by ','; a candidate's URL ends at a blank.
  std::string out;
  const std::string all = Prefix + S;
  size_t begin = 0;
  while (begin <= all.size()) {
    size_t end = all.find(',', begin);
    if (end == std::string::npos) end = all.size();
    size_t u = begin;
    while (u < end && static_cast<unsigned char>(all[u]) <= 32) ++u;
    size_t ue = u;
    while (ue<end&& static_cast<unsigned char>(all[ue])> 32) ++ue;
    std::string candidate = all.substr(begin, end - begin);
    if (!SafeUrlScheme(all.substr(u, ue - u))) {
      candidate = all.substr(begin, u - begin) + kUnsafeUrl + all.substr(ue, end - ue);
    }
    out += candidate;
    if (end < all.size()) out += ',';
    begin = end + 1;
  }
  // The literal prefix is in the page already: what the value adds. A
  // prefix whose own candidate turned unsafe loses the value whole.
  if (out.compare(0, Prefix.size(), Prefix) != 0) return kUnsafeUrl;
  return out.substr(Prefix.size());
}

std::string FilterMetaRefresh(const std::string& Prefix, const std::string& S) {
  // The refresh's syntax: blanks, a number, then ';' or ',' and "url=".
  const std::string all = Prefix + S;
  size_t i = 0;
  const auto blanks = [&] {
    while (i < all.size() && static_cast<unsigned char>(all[i]) <= 32) ++i;
  };
  blanks();
  const size_t digits = i;
  while (i < all.size() && ((all[i] >= '0' && all[i] <= '9') || all[i] == '.')) ++i;
  if (i == digits) return S;  // no refresh
  blanks();
  if (i < all.size() && (all[i] == ';' || all[i] == ',')) ++i;
  blanks();
  if (all.size() - i >= 3 && (all[i] | 0x20) == 'u' && (all[i + 1] | 0x20) == 'r' &&
      (all[i + 2] | 0x20) == 'l') {
    size_t j = i + 3;
    while (j < all.size() && static_cast<unsigned char>(all[j]) <= 32) ++j;
    if (j < all.size() && all[j] == '=') {
      i = j + 1;
      blanks();
    }
  }
  if (i < all.size() && (all[i] == '\'' || all[i] == '"')) ++i;
  if (SafeUrlScheme(all.substr(i))) return S;
  return kUnsafeUrl;
}

bool SafeUrlScheme(const std::string& Url) {
  std::string s;
  for (const char c : Url) {
    if (c != '\t' && c != '\n' && c != '\r') s += c;
  }
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  std::string scheme;
  for (size_t i = b; i < e; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ':') {
      return scheme == "http" || scheme == "https" || scheme == "mailto" || scheme == "tel";
    }
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!(letter || (i > b && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))))
      return true;  // no scheme: a relative reference
    scheme += static_cast<char>(letter && c <= 'Z' ? c + 32 : c);
  }
  return true;
}

}  // namespace vekstd
