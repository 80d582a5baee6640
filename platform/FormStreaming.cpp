// Form streaming's shared parts: the error type, quoting of strings, name
// keys, value kinds in messages and the lookup of published methods.
#include "FormStreaming.h"

#include "Encoding.h"
#include "FormTree.h"

EFormError::EFormError(std::size_t Line, const AnsiString& Message)
    : std::runtime_error(Line == 0 ? Message : "line " + std::to_string(Line) + ": " + Message),
      FLine(Line) {}

namespace vek_form {

void AppendQuoted(AnsiString& out, const AnsiString& s) {
  out += '"';
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\n':
        out += "\\n";
        continue;
      default:
        break;
    }
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      continue;
    }
    if (c >= 0x80) {
      char32_t cp;
      if (const size_t len = vek_encoding::DecodeUtf8(s, i, cp); len != 0) {
        out.append(s, i, len);
        i += len - 1;
        continue;
      }
    }
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  out += '"';
}

AnsiString NameKey(AnsiString s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

AnsiString Quoted(const AnsiString& s) {
  AnsiString out;
  AppendQuoted(out, s);
  return out;
}

const char* KindText(FormValue::TKind k) {
  switch (k) {
    case FormValue::kString:
      return "a quoted string";
    case FormValue::kList:
      return "a list of strings";
    case FormValue::kMethod:
      return "a method name";
    case FormValue::kUnset:
      return "\"unset\"";
  }
  return "a value";
}

AnsiString Describe(const FormObject& n) {
  return n.Name.empty() ? "the unnamed " + n.ClassName : n.Name;
}

const TPublishedMethod* ResolveMethod(TComponent* C, const AnsiString& Name,
                                      TComponent** Publisher) {
  for (TComponent* o = C; o != nullptr; o = o->Owner())
    if (const TPublishedMethod* m = o->FindMethod(Name)) {
      *Publisher = o;
      return m;
    }
  return nullptr;
}

AnsiString Describe(const TComponent* c) {
  return c->Name().empty() ? "the unnamed " + c->ClassName() : c->Name();
}

AnsiString SearchPath(const TComponent* c) {
  AnsiString out;
  for (const TComponent* o = c; o != nullptr; o = o->Owner())
    out += (out.empty() ? "" : ", ") + Describe(o);
  return out;
}

}  // namespace vek_form
