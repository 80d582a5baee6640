// The escapers of values. Each one keeps the bytes it need not touch, UTF-8
// sequences included, so that the browser reads back the value as it was.
#include "Escapers.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vekstd {

namespace {

// U+2028 and U+2029 in UTF-8: E2 80 A8 and E2 80 A9.
bool IsLineSeparatorAt(const std::string& S, size_t I) {
  return I + 2 < S.size() && static_cast<unsigned char>(S[I]) == 0xE2 &&
         static_cast<unsigned char>(S[I + 1]) == 0x80 &&
         (static_cast<unsigned char>(S[I + 2]) == 0xA8 ||
          static_cast<unsigned char>(S[I + 2]) == 0xA9);
}

}  // namespace

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
