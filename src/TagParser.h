// The tag parser: splits a tag's text into its name and parameters. Internal
// to the component; inline, since the expansion loop parses every tag.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "AnsiString.h"
#include "StringList.h"
#include "TemplateText.h"

namespace vek {

// The parameter list: the producer's own is a TStringList member, never of a
// derived class, so its calls need no virtual dispatch.
inline void ClearList(TStringList& List) {
  List.TStringList::Clear();
}
inline void ClearList(TStrings& List) {
  List.Clear();
}
inline void AddToList(TStringList& List, const AnsiString& S) {
  List.TStringList::Add(S);
}
inline void AddToList(TStrings& List, const AnsiString& S) {
  List.Add(S);
}

inline bool IsQuote(unsigned char c) {
  return c == '\'' || c == '"';
}

// Splits a tag's text into Name and Params (see ExtractTagParams). The text,
// trimmed, is followed by one added space that ends a last word; the walk
// stops at the first NUL byte. Value is scratch space for a parameter, kept by
// the caller so that its buffer serves tag after tag. TagText must not lie in
// Name, Params or Value.
//
// The walk is the state machine Between / Word / Quoted, each state skipping
// the bytes that keep it in one tight loop.
//
// Static: each unit gets its own copy, which the compiler treats as a local
// function and inlines into the expansion loop's one call, as it does not
// for an inline function shared between units.
template <class List>
static void ParseTag(std::string_view TagText, AnsiString& Name, List* Params, AnsiString& Value) {
  Name.clear();
  if (Params != nullptr) ClearList(*Params);
  const std::string_view text = TrimView(TagText);
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();  // the added space stands at n
  const std::size_t len = n + 1;

  std::string_view prefix;
  // Emits the token V behind the pending prefix; true ends the scan.
  auto emitView = [&](std::string_view v) -> bool {
    if (prefix.empty() && v.empty()) return false;
    AnsiString* target = &Name;
    if (!Name.empty()) {
      if (Params == nullptr) return true;
      target = &Value;
    }
    // clear() and append() are cheaper than assign(), which allows for the
    // source lying in the target; the text never does.
    target->clear();
    if (!prefix.empty()) target->append(prefix.data(), prefix.size());
    target->append(v.data(), v.size());
    prefix = {};
    if (target == &Value) AddToList(*Params, Value);
    return Params == nullptr;
  };
  // Emits the quoted stretch S[From..To] (both inclusive), trimmed.
  auto emit = [&](std::size_t From, std::size_t To) -> bool {
    std::string_view v;
    const std::size_t stop = std::min(To + 1, n);  // the added space, a blank, never stays
    if (From < len && From <= To && From < stop) v = TrimView(text.substr(From, stop - From));
    return emitView(v);
  };

  std::size_t i = 0;
  for (;;) {
    // Between: skip blanks.
    while (i < n && s[i] != 0 && s[i] <= 32) ++i;
    if (i == n || s[i] == 0) return;
    std::size_t start = i;
    unsigned char quote = s[i];
    if (!IsQuote(quote)) {
      // Word: skip word bytes; a blank (the added one too) ends the word, a
      // quote makes the word bytes before it the prefix of the quoted stretch.
      // A word holds no blanks: it needs no trimming.
      while (i < n && s[i] > 32 && !IsQuote(s[i])) ++i;
      if (i == n) {
        emitView(text.substr(start, n - start));
        return;
      }
      if (s[i] == 0) return;  // the walk ends inside a word: nothing is emitted
      if (!IsQuote(s[i])) {
        if (emitView(text.substr(start, i - start))) return;
        ++i;
        continue;
      }
      quote = s[i];
      prefix = TrimView(text.substr(start, i - start));
      start = i;
    }
    // Quoted: up to the same quote byte.
    ++i;
    while (i < n && s[i] != quote && s[i] != 0) ++i;
    if (i == n || s[i] == 0) {  // a quote never closed: the stretch runs to the end
      emit(start + 1, len - 1);
      return;
    }
    if (emit(start + 1, i - 1)) return;
    ++i;
  }
}

/// The name of a tag, parsed from its text into Name.
inline void ParseName(std::string_view TagText, AnsiString& Name) {
  AnsiString unused;  // no parameters are parsed
  ParseTag(TagText, Name, static_cast<TStrings*>(nullptr), unused);
}

}  // namespace vek
