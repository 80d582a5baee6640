// The escapers of values. Each one keeps the bytes it need not touch, UTF-8
// sequences included, so that the browser reads back the value as it was.
#include "Escapers.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vekstd {

namespace {

const char kHex[] = "0123456789ABCDEF";

bool IsAlnum(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

void AppendHex2(std::string& Out, unsigned char c) {
  Out += kHex[c >> 4];
  Out += kHex[c & 15];
}

// U+2028 and U+2029 in UTF-8: E2 80 A8 and E2 80 A9.
bool IsLineSeparatorAt(const std::string& S, size_t I) {
  return I + 2 < S.size() && static_cast<unsigned char>(S[I]) == 0xE2 &&
         static_cast<unsigned char>(S[I + 1]) == 0x80 &&
         (static_cast<unsigned char>(S[I + 2]) == 0xA8 ||
          static_cast<unsigned char>(S[I + 2]) == 0xA9);
}

}  // namespace

const char* const kUnsafeUrl = "about:invalid#vek";

namespace {

// The character reference of each byte that needs one in HTML text and
// quoted attribute values, padded so that 6 bytes are copied whole; its
// length, 0 for a byte kept as it is.
struct THtmlRefs {
  char Text[256][8] = {};
  unsigned char Size[256] = {};
  constexpr THtmlRefs() {
    Set('&', "&amp;");
    Set('<', "&lt;");
    Set('>', "&gt;");
    Set('"', "&quot;");
    Set('\'', "&#39;");
    Set('\r', "&#13;");  // else the browser reads a line break as LF
  }
  constexpr void Set(unsigned char C, const char* Ref) {
    unsigned char n = 0;
    for (; Ref[n]; ++n) Text[C][n] = Ref[n];
    Size[C] = n;
  }
};
constexpr THtmlRefs kHtmlRefs;

// The most bytes escaped into the stack at a time: at most 6 out per byte in.
constexpr size_t kHtmlChunk = 128;

}  // namespace

char* WriteHtml(char* W, std::string_view S) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(S.data());
  const unsigned char* const end = p + S.size();
  // The run before the first special byte (often the whole value) in one copy.
  const unsigned char* clean = p;
  while (clean != end && kHtmlRefs.Size[*clean] == 0) ++clean;
  std::memcpy(W, p, static_cast<size_t>(clean - p));
  W += clean - p;
  for (p = clean; p != end; ++p) {
    const unsigned char n = kHtmlRefs.Size[*p];
    if (n == 0) {
      *W++ = static_cast<char>(*p);
    } else {
      std::memcpy(W, kHtmlRefs.Text[*p], 6);  // within the 6 bytes this one may take
      W += n;
    }
  }
  return W;
}

void AppendHtml(std::string& Out, std::string_view S) {
  // Escaped a chunk at a time into a buffer on the stack, then appended
  // with one call: a value costs one append, not one per reference.
  char buf[kHtmlChunk * 6];
  while (!S.empty()) {
    const std::string_view part = S.substr(0, kHtmlChunk);
    Out.append(buf, static_cast<size_t>(WriteHtml(buf, part) - buf));
    S.remove_prefix(part.size());
  }
}

std::string EscapeHtml(const std::string& S) {
  std::string out;
  out.reserve(S.size());
  AppendHtml(out, S);
  return out;
}

std::string EscapeAttrUnquoted(const std::string& S) {
  std::string out;
  out.reserve(S.size());
  for (const char ch : S) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (IsAlnum(c) || c >= 0x80 || c == '-' || c == '_' || c == '.') {
      out += ch;
    } else if (c == 0) {
      out += "&#xFFFD;";  // what the browser makes of it anyway
    } else {
      out += "&#";
      out += std::to_string(c);
      out += ';';
    }
  }
  return out;
}

std::string EscapeComment(const std::string& S) {
  std::string out;
  for (const char c : S) {
    if (c == '-') {
      out += "&#45;";
    } else if (c == '!') {
      out += "&#33;";
    } else {
      out += EscapeHtml(std::string(1, c));
    }
  }
  return out;
}

std::string EscapeUrlComponent(const std::string& S) {
  std::string out;
  out.reserve(S.size());
  for (const char ch : S) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (IsAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += ch;
    } else {
      out += '%';
      AppendHex2(out, c);
    }
  }
  return out;
}

std::string EscapeJsString(const std::string& S, bool Dashes) {
  std::string out;
  out.reserve(S.size());
  for (size_t i = 0; i < S.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(S[i]);
    if (IsLineSeparatorAt(S, i)) {
      out += static_cast<unsigned char>(S[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
      continue;
    }
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '/':
        out += "\\/";
        break;
      case '\'':
      case '"':
      case '`':
      case '<':
      case '>':
      case '&':
      case '$':
      case '=':
      case 0x7F:
        out += "\\x";
        AppendHex2(out, c);
        break;
      case '-':
        if (!Dashes) {
          out += '-';
          break;
        }
        out += "\\x";
        AppendHex2(out, c);
        break;
      default:
        if (c < 0x20) {
          out += "\\x";
          AppendHex2(out, c);
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string EscapeJsRegexp(const std::string& S) {
  if (S.empty()) return "(?:)";
  std::string out;
  out.reserve(S.size());
  for (size_t i = 0; i < S.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(S[i]);
    if (IsLineSeparatorAt(S, i)) {
      out += static_cast<unsigned char>(S[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else if (IsAlnum(c) || c == ' ' || c >= 0x80) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      AppendHex2(out, c);
    }
  }
  return out;
}

std::string EscapeCss(const std::string& S) {
  std::string out;
  out.reserve(S.size());
  for (const char ch : S) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (IsAlnum(c) || c >= 0x80 || c == ' ' || c == '-' || c == '_' || c == '.' || c == ',' ||
        c == '#' || c == '%' || c == '!') {
      out += ch;
    } else if (c == 0) {
      out += "\\FFFD ";
    } else {
      out += '\\';
      AppendHex2(out, c);
      out += ' ';
    }
  }
  return out;
}

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

namespace {

// A byte that would join an identifier, a number or a keyword beside it.
bool JoinsWord(unsigned char c) {
  return IsAlnum(c) || c == '_' || c == '$' || c == '\\' || c >= 0x80;
}

}  // namespace

std::string JsonForScript(const nlohmann::ordered_json& V) {
  const std::string dumped =
      V.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  std::string out;
  out.reserve(dumped.size() + 2);
  const bool pad = !dumped.empty() && (JoinsWord(static_cast<unsigned char>(dumped.front())) ||
                                       JoinsWord(static_cast<unsigned char>(dumped.back())));
  if (pad) out += ' ';
  // These bytes stand only inside JSON strings, where escapes mean them.
  for (size_t i = 0; i < dumped.size(); ++i) {
    const char c = dumped[i];
    if (IsLineSeparatorAt(dumped, i)) {
      out += static_cast<unsigned char>(dumped[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else if (c == '<' || c == '>' || c == '&' || c == '\'' || c == '`') {
      out += "\\u00";
      AppendHex2(out, static_cast<unsigned char>(c));
    } else if (c == '/') {
      out += "\\/";
    } else {
      out += c;
    }
  }
  if (pad) out += ' ';
  return out;
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

void AppendEscaped(std::string& Out, const TEscape& E, const std::string& Text,
                   const nlohmann::ordered_json& Json) {
  if (HtmlEscapeOnly(E)) {
    if (E.KeepLeadingNewline && !Text.empty() && Text[0] == '\n') Out += '\n';
    AppendHtml(Out, Text);
    return;
  }
  Out += ApplyEscape(E, Text, Json);
}

std::string ApplyEscape(const TEscape& E, const std::string& Text,
                        const nlohmann::ordered_json& Json) {
  std::string inner;
  switch (E.Inner) {
    case TInner::None:
      inner = Text;
      break;
    case TInner::Html:
      inner = EscapeHtml(Text);
      if (E.KeepLeadingNewline && !Text.empty() && Text[0] == '\n') inner.insert(0, 1, '\n');
      break;
    case TInner::Comment:
      inner = EscapeComment(Text);
      break;
    case TInner::UrlStart:
      inner = SafeUrlScheme(E.UrlPrefix + Text) ? Text : std::string(kUnsafeUrl);
      break;
    case TInner::UrlComponent:
      inner = EscapeUrlComponent(Text);
      break;
    case TInner::JsString:
      inner = EscapeJsString(Text, E.EscapeDashes);
      break;
    case TInner::JsRegexp:
      inner = EscapeJsRegexp(Text);
      break;
    case TInner::JsValue:
      inner = JsonForScript(Json);
      if (E.SpaceBefore && (inner.empty() || inner[0] != ' ')) inner.insert(0, 1, ' ');
      break;
    case TInner::Css:
      inner = EscapeCss(Text);
      break;
    case TInner::CssValue:
      inner = FilterCssValue(Text);
      break;
    case TInner::CssUrlStart:
      inner = EscapeCssUrl(SafeUrlScheme(E.UrlPrefix + Text) ? Text : std::string(kUnsafeUrl));
      break;
    case TInner::CssUrlPart:
      inner = EscapeCssUrl(Text);
      break;
    case TInner::Srcset:
      inner = FilterSrcset(E.UrlPrefix, Text);
      break;
    case TInner::MetaRefresh:
      inner = FilterMetaRefresh(E.UrlPrefix, Text);
      break;
    case TInner::Forbidden:
      return "";
  }
  switch (E.Wrap) {
    case TWrap::Quoted:
      return EscapeHtml(inner);
    case TWrap::Unquoted:
      return EscapeAttrUnquoted(inner);
    default:
      return inner;
  }
}

}  // namespace vekstd
