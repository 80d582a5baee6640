// The pair matcher: finds the closing tag of a pair by scanning, counting
// same-name openers against closers. Internal to the component.
#pragma once

#include <cstddef>

#include "AnsiString.h"
#include "TemplateText.h"

namespace vek {

/// Where a pair ends: its body ends at bodyEnd (the closing tag's opening
/// delimiter), and the closing tag ends just before next.
struct PairEnd {
  std::size_t bodyEnd = 0, next = 0;
};

/// Steps from tag to tag after Pos, counting tags named Open (upper-cased)
/// against tags named Close, until the level of the pair at Pos closes; true
/// with End set when it does. Instantiated for BoundedText and
/// NulTerminatedText. May throw what upper-casing throws. With MaxTags, false
/// also when the level is still open after that many tags (the scan gave up).
template <class Text>
bool FindPairEnd(const Text& t, std::size_t Pos, const Delimiters& d, const AnsiString& Open,
                 const AnsiString& Close, PairEnd& End, std::size_t MaxTags = npos);

/// Upper = AnsiUpperCase(Name), reusing Upper's buffer for an ASCII name.
void UpperInto(const AnsiString& Name, AnsiString& Upper);

/// The upper-cased names a pair step matches with, kept from the last pair
/// step: templates repeat their pair names, and upper-casing allocates. The
/// locale is read once per process, so a name always folds the same way.
struct UpperPairNames {
  bool valid = false;
  AnsiString name, open, close;
  unsigned long long changes = 0;  // counts the names taken
  /// Makes open and close those of Name ("/" before the closer).
  void For(const AnsiString& Name);
};

}  // namespace vek
