#include "TextRoutines.h"

#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#include <langinfo.h>
#include <locale.h>
#include <wctype.h>
#endif

const char* AnsiStrPos(const char* Str, const char* SubStr) noexcept {
  if (Str == nullptr || SubStr == nullptr || *Str == '\0' || *SubStr == '\0') return nullptr;
  return std::strstr(Str, SubStr);
}

std::size_t StrLen(const char* Str) noexcept {
  return Str == nullptr ? 0 : std::strlen(Str);
}

AnsiString Trim(const AnsiString& S) {
  std::size_t b = 0, e = S.size();
  while (b < e && IsBlank(static_cast<unsigned char>(S[b]))) ++b;
  while (e > b && IsBlank(static_cast<unsigned char>(S[e - 1]))) --e;
  return S.substr(b, e - b);
}

bool IsValidIdent(const AnsiString& S) noexcept {
  if (S.empty()) return false;
  for (std::size_t i = 0; i < S.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(S[i]);
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

bool SameText(const AnsiString& A, const AnsiString& B) noexcept {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i) {
    char a = A[i], b = B[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

namespace {

// The upper-casing rules of the user's locale, computed once and read-only
// afterwards, so that every thread can use them without locking.
struct UpperCaseRules {
  std::string name = "C";
  bool utf8 = false;
  unsigned char byteMap[256];   // single-byte locales, and ASCII in UTF-8 ones
  bool asciiStaysAscii = true;  // every ASCII letter folds to an ASCII byte
  bool asciiIsPlain = true;     // ASCII folds exactly as in the "C" locale
#if !defined(_WIN32)
  locale_t loc = static_cast<locale_t>(0);
#endif

  UpperCaseRules() {
    for (int b = 0; b < 256; ++b) byteMap[b] = static_cast<unsigned char>(b);
    for (int b = 'a'; b <= 'z'; ++b) byteMap[b] = static_cast<unsigned char>(b - 'a' + 'A');
#if !defined(_WIN32)
    const char* env = nullptr;
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
      const char* v = std::getenv(var);
      if (v != nullptr && *v != '\0') {
        env = v;
        break;
      }
    }
    if (env == nullptr) return;
    loc = newlocale(LC_CTYPE_MASK, env, static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return;
    name = env;
    const char* codeset = nl_langinfo_l(CODESET, loc);
    utf8 = codeset != nullptr &&
           (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
    if (utf8) {
      for (int b = 0; b < 128; ++b) {
        const wint_t u = towupper_l(static_cast<wint_t>(b), loc);
        if (u < 128)
          byteMap[b] = static_cast<unsigned char>(u);
        else
          asciiStaysAscii = false;
      }
    } else {
      for (int b = 0; b < 256; ++b) byteMap[b] = static_cast<unsigned char>(toupper_l(b, loc));
    }
#endif
    for (int b = 0; b < 128 && asciiIsPlain; ++b)
      asciiIsPlain = byteMap[b] == (b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b);
    asciiIsPlain = asciiIsPlain && asciiStaysAscii;
  }
  UpperCaseRules(const UpperCaseRules&) = delete;
  UpperCaseRules& operator=(const UpperCaseRules&) = delete;
  ~UpperCaseRules() {
#if !defined(_WIN32)
    if (loc != static_cast<locale_t>(0)) freelocale(loc);
#endif
  }

  char32_t upper(char32_t cp) const {
#if !defined(_WIN32)
    if (loc != static_cast<locale_t>(0)) return static_cast<char32_t>(towupper_l(cp, loc));
#endif
    return cp < 128 ? byteMap[cp] : cp;
  }
};

const UpperCaseRules& Rules() {
  static const UpperCaseRules rules;
  return rules;
}

// Length of the well-formed UTF-8 sequence at s[i..n), with its code point,
// or 0 when the bytes there are not one (overlong forms, surrogates and code
// points above U+10FFFF included).
std::size_t DecodeUtf8(const unsigned char* s, std::size_t i, std::size_t n, char32_t& cp) {
  const unsigned char c = s[i];
  std::size_t len;
  char32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2, cp = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3, cp = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (n - i < len) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    if ((s[i + k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i + k] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void EncodeUtf8(char32_t cp, AnsiString& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

AnsiString AnsiUpperCase(const AnsiString& S) {
  const UpperCaseRules& r = Rules();
  const auto* s = reinterpret_cast<const unsigned char*>(S.data());
  const std::size_t n = S.size();
  AnsiString out;
  out.reserve(n);
  if (!r.utf8) {
    for (std::size_t i = 0; i < n; ++i) out += static_cast<char>(r.byteMap[s[i]]);
    return out;
  }
  for (std::size_t i = 0; i < n;) {
    if (s[i] < 0x80 && r.asciiStaysAscii) {
      out += static_cast<char>(r.byteMap[s[i]]);
      ++i;
      continue;
    }
    char32_t cp = s[i];
    std::size_t len = s[i] < 0x80 ? 1 : DecodeUtf8(s, i, n, cp);
    if (len == 0) {  // not UTF-8: keep the byte as it is
      out += static_cast<char>(s[i]);
      ++i;
      continue;
    }
    EncodeUtf8(r.upper(cp), out);
    i += len;
  }
  return out;
}

const char* UpperCaseLocaleName() noexcept {
  return Rules().name.c_str();
}

bool UpperCaseLocaleIsUtf8() noexcept {
  return Rules().utf8;
}

bool UpperCaseAsciiIsPlain() noexcept {
  return Rules().asciiIsPlain;
}
