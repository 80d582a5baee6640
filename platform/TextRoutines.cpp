// Text routines: search, trimming, identifiers, ASCII letter-case
// comparison, and upper-casing in the user's locale.
#include "TextRoutines.h"

#include "Encoding.h"

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
  std::string Name = "C";
  bool Utf8 = false;
  unsigned char ByteMap[256];   // single-byte locales, and ASCII in UTF-8 ones
  bool AsciiStaysAscii = true;  // every ASCII letter folds to an ASCII byte
  bool AsciiIsPlain = true;     // ASCII folds exactly as in the "C" locale
#if !defined(_WIN32)
  locale_t Locale = static_cast<locale_t>(0);
#endif

  UpperCaseRules() {
    for (int b = 0; b < 256; ++b) ByteMap[b] = static_cast<unsigned char>(b);
    for (int b = 'a'; b <= 'z'; ++b) ByteMap[b] = static_cast<unsigned char>(b - 'a' + 'A');
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
    Locale = newlocale(LC_CTYPE_MASK, env, static_cast<locale_t>(0));
    if (Locale == static_cast<locale_t>(0)) return;
    Name = env;
    const char* codeset = nl_langinfo_l(CODESET, Locale);
    Utf8 = codeset != nullptr &&
           (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
    if (Utf8) {
      for (int b = 0; b < 128; ++b) {
        const wint_t u = towupper_l(static_cast<wint_t>(b), Locale);
        if (u < 128)
          ByteMap[b] = static_cast<unsigned char>(u);
        else
          AsciiStaysAscii = false;
      }
    } else {
      for (int b = 0; b < 256; ++b) ByteMap[b] = static_cast<unsigned char>(toupper_l(b, Locale));
    }
#endif
    for (int b = 0; b < 128 && AsciiIsPlain; ++b)
      AsciiIsPlain = ByteMap[b] == (b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b);
    AsciiIsPlain = AsciiIsPlain && AsciiStaysAscii;
  }
  UpperCaseRules(const UpperCaseRules&) = delete;
  UpperCaseRules& operator=(const UpperCaseRules&) = delete;
  ~UpperCaseRules() {
#if !defined(_WIN32)
    if (Locale != static_cast<locale_t>(0)) freelocale(Locale);
#endif
  }

  char32_t Upper(char32_t cp) const {
#if !defined(_WIN32)
    if (Locale != static_cast<locale_t>(0)) return static_cast<char32_t>(towupper_l(cp, Locale));
#endif
    return cp < 128 ? ByteMap[cp] : cp;
  }
};

const UpperCaseRules& Rules() {
  static const UpperCaseRules rules;
  return rules;
}

}  // namespace

AnsiString AnsiUpperCase(const AnsiString& S) {
  const UpperCaseRules& r = Rules();
  const auto* s = reinterpret_cast<const unsigned char*>(S.data());
  const std::size_t n = S.size();
  AnsiString out;
  out.reserve(n);
  if (!r.Utf8) {
    for (std::size_t i = 0; i < n; ++i) out += static_cast<char>(r.ByteMap[s[i]]);
    return out;
  }
  for (std::size_t i = 0; i < n;) {
    if (s[i] < 0x80 && r.AsciiStaysAscii) {
      out += static_cast<char>(r.ByteMap[s[i]]);
      ++i;
      continue;
    }
    char32_t cp;
    const std::size_t len = vek_encoding::DecodeUtf8(s + i, n - i, cp);
    if (len == 0) {  // not UTF-8: keep the byte as it is
      out += static_cast<char>(s[i]);
      ++i;
      continue;
    }
    vek_encoding::AppendUtf8(out, r.Upper(cp));
    i += len;
  }
  return out;
}

const char* UpperCaseLocaleName() noexcept {
  return Rules().Name.c_str();
}

bool UpperCaseLocaleIsUtf8() noexcept {
  return Rules().Utf8;
}

bool UpperCaseAsciiIsPlain() noexcept {
  return Rules().AsciiIsPlain;
}
