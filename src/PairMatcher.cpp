// The pair matcher (see PairMatcher.h).
#include "PairMatcher.h"

#include "TagParser.h"
#include "TextRoutines.h"

namespace vek {
namespace {

// Where the locale folds ASCII as "C" does, ASCII bytes fold one to one and
// can be compared or upper-cased as they stand.
bool AsciiFoldsPlainly() {
  static const bool plain = UpperCaseAsciiIsPlain();
  return plain;
}

// Whether AnsiUpperCase(Name) == Upper. The ASCII bytes at the front of Name
// fold one to one (where the locale folds ASCII plainly), so they are
// compared as they stand; only a name with other bytes is upper-cased whole.
bool UpperEquals(const AnsiString& Name, const AnsiString& Upper) {
  if (AsciiFoldsPlainly()) {
    const auto* s = reinterpret_cast<const unsigned char*>(Name.data());
    const std::size_t n = Name.size();
    std::size_t i = 0;
    for (; i < n && s[i] < 0x80; ++i) {
      const unsigned char c = s[i] >= 'a' && s[i] <= 'z' ? s[i] - ('a' - 'A') : s[i];
      if (i == Upper.size() || c != static_cast<unsigned char>(Upper[i])) return false;
    }
    if (i == n) return n == Upper.size();
  }
  return AnsiUpperCase(Name) == Upper;
}

}  // namespace

void UpperInto(const AnsiString& Name, AnsiString& Upper) {
  if (AsciiFoldsPlainly() && std::all_of(Name.begin(), Name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
      })) {
    Upper = Name;
    for (char& c : Upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
  } else {
    Upper = AnsiUpperCase(Name);
  }
}

template <class Text>
bool FindPairEnd(const Text& t, std::size_t Pos, const Delimiters& d, const AnsiString& Open,
                 const AnsiString& Close, PairEnd& End, std::size_t MaxTags) {
  long long depth = 1;
  AnsiString name;
  for (std::size_t p = Pos, n = 0; t.HasMore(p) && n < MaxTags; ++n) {
    TagHit hit;
    if (FindTag(t, p, d, hit) != ScanResult::Tag) break;
    ParseName(hit.Text(t.data), name);
    if (UpperEquals(name, Open))
      ++depth;
    else if (UpperEquals(name, Close))
      --depth;
    p = hit.next;
    if (depth <= 0) {
      End.bodyEnd = hit.open;
      End.next = hit.next;
      return true;
    }
  }
  return false;
}

template bool FindPairEnd<BoundedText>(const BoundedText&, std::size_t, const Delimiters&,
                                       const AnsiString&, const AnsiString&, PairEnd&, std::size_t);
template bool FindPairEnd<NulTerminatedText>(const NulTerminatedText&, std::size_t,
                                             const Delimiters&, const AnsiString&,
                                             const AnsiString&, PairEnd&, std::size_t);

void UpperPairNames::For(const AnsiString& Name) {
  if (valid && Name == name) return;
  valid = false;  // stays false should upper-casing throw
  name = Name;
  UpperInto(Name, open);
  close = "/" + open;
  ++changes;
  valid = true;
}

}  // namespace vek
