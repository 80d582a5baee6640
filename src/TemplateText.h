// The delimiter search over a template: delimiters prepared for searching,
// the two views of a template (bounded, or NUL-terminated of unknown length)
// and FindTag, which locates the next tag. Internal to the component; inline,
// since the expansion loop calls it at every tag.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "AnsiString.h"
#include "FindBytes.h"
#include "TextRoutines.h"

namespace vek {

constexpr std::size_t npos = std::string_view::npos;
static_assert(kNotFound == npos, "the search reports npos");

/// A delimiter as the search sees it: its bytes before the first NUL, like the
/// C-string search of the host. Its length is that of the searched part, so a
/// delimiter holding a NUL can never move a position past the template's end.
/// Read at every tag; delimiters are short, so a plain walk is cheapest.
inline std::string_view SearchedPart(const AnsiString& Delimiter) {
  const char* s = Delimiter.data();
  std::size_t n = 0;
  while (n < Delimiter.size() && s[n] != '\0') ++n;
  return std::string_view(s, n);
}

/// S without its blanks (bytes <= 32) at both ends.
inline std::string_view TrimView(std::string_view s) {
  while (!s.empty() && IsBlank(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && IsBlank(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

/// A delimiter ready for searching: its searched part (NUL-terminated, as the
/// string's own bytes are) and the needle prepared from it. Valid while the
/// delimiter string is unchanged.
struct Delimiter {
  std::string_view text;
  Needle needle;
  Delimiter() = default;
  explicit Delimiter(const AnsiString& s)
      : text(SearchedPart(s)), needle(text.data(), text.size()) {}
};

struct Delimiters {
  Delimiter beg, end;
  Delimiters() = default;
  Delimiters(const AnsiString& Beg, const AnsiString& End) : beg(Beg), end(End) {}
};

/// A template whose visible length is known: the bytes before its first NUL.
/// Used by the expansion loop, which measures the template once.
struct BoundedText {
  const char* data;
  std::size_t size;
  bool HasMore(std::size_t p) const { return p < size; }
  std::size_t Find(const Delimiter& d, std::size_t From) const {
    return FindBytes(data, size, From, d.needle);
  }
  std::size_t End(std::size_t) const { return size; }
};

/// A NUL-terminated template of unknown length, as the public steps get it.
/// Every operation stops at the NUL, so each costs only the bytes it passes.
struct NulTerminatedText {
  const char* data;
  bool HasMore(std::size_t p) const { return data[p] != '\0'; }
  std::size_t Find(const Delimiter& d, std::size_t From) const {
    const char* f = std::strstr(data + From, d.text.data());
    return f == nullptr ? npos : static_cast<std::size_t>(f - data);
  }
  std::size_t End(std::size_t From) const { return From + std::strlen(data + From); }
};

enum class ScanResult { NoTag, Unclosed, Tag };

/// Where a tag lies: its opening delimiter at open, its text in
/// [textBeg, textEnd), and the first byte after its closing delimiter at next.
struct TagHit {
  std::size_t open = 0, textBeg = 0, textEnd = 0, next = 0;
  std::string_view Text(const char* data) const {
    return TrimView(std::string_view(data + textBeg, textEnd - textBeg));
  }
};

/// Finds the next tag from Pos in t (a BoundedText or a NulTerminatedText).
/// Unclosed: an opening delimiter (at hit.open) with no closing one after it.
/// The closing delimiter is searched only after the whole opening one, so
/// delimiters that share bytes never overlap.
template <class Text>
ScanResult FindTag(const Text& t, std::size_t Pos, const Delimiters& d, TagHit& hit) {
  const std::string_view Beg = d.beg.text, End = d.end.text;
  if (Beg.empty()) return ScanResult::NoTag;
  const std::size_t off = t.Find(d.beg, Pos);
  if (off == npos) return ScanResult::NoTag;
  hit.open = off;
  if (End.empty()) return ScanResult::Unclosed;
  const std::size_t e = t.Find(d.end, off + Beg.size());
  if (e == npos) return ScanResult::Unclosed;
  hit.textBeg = off + Beg.size();
  hit.textEnd = e;
  hit.next = e + End.size();
  return ScanResult::Tag;
}

}  // namespace vek
