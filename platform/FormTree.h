// Internal to form streaming: the parse tree of a form's text and the helpers
// its parser, reader and writer share (quoting, name keys, method lookup).
#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <vector>

#include "AnsiString.h"
#include "Component.h"

namespace vek_form {

using std::size_t;

// Components nest at most this deep, so that reading and writing recurse a
// bounded number of levels whatever the input.
constexpr int kMaxDepth = 64;

constexpr char kHex[] = "0123456789ABCDEF";

// An identifier with its ASCII letters upper-cased: the key under which
// names that differ only in letter case are the same.
AnsiString NameKey(AnsiString s);

// Line (or index) of each name seen so far, by NameKey.
using NameIndex = std::unordered_map<AnsiString, size_t>;

// S between double quotes. Quote, backslash, tab, CR and LF are written as
// \" \\ \t \r \n; other control bytes and every byte >= 0x80 that is not part
// of well-formed UTF-8 as \xHH. Everything else, UTF-8 text included, is
// written as it is, so the form stays readable and is itself valid UTF-8.
void AppendQuoted(AnsiString& out, const AnsiString& s);
AnsiString Quoted(const AnsiString& s);

// ---- Parse tree ------------------------------------------------------------------

struct FormValue {
  enum TKind { kString, kList, kMethod, kUnset } Kind = kString;
  AnsiString Text;                // kString: the string; kMethod: the name
  std::vector<AnsiString> Lines;  // kList
};

struct FormProperty {
  AnsiString Name;
  size_t Line = 0;
  FormValue Value;
};

struct FormObject {
  AnsiString Name, ClassName;
  size_t Line = 0;
  std::vector<FormProperty> Properties;
  std::vector<std::unique_ptr<FormObject>> Children;
  NameIndex PropertyLines, ChildLines;  // while parsing: the names used so far
};

// "a quoted string", "a list of strings"...: a value kind in messages.
const char* KindText(FormValue::TKind k);

// The tree of the form Text, its syntax checked. Throws EFormError naming the
// line of the first fault.
std::unique_ptr<FormObject> ParseForm(const AnsiString& Text);

// ---- Components and methods ------------------------------------------------------

// "Producer", or "the unnamed TVekPageProducer": a component in messages.
AnsiString Describe(const FormObject& n);
AnsiString Describe(const TComponent* c);

// The published method Name for an event of C: C's own, else its owner's, and
// so on. Sets *Publisher to the component that publishes it.
const TPublishedMethod* ResolveMethod(TComponent* C, const AnsiString& Name,
                                      TComponent** Publisher);

// "Producer, DemoModule": where a method name is looked up.
AnsiString SearchPath(const TComponent* c);

}  // namespace vek_form
