// The pair matcher: finds the closing tag of a pair, counting same-name
// openers against closers, and the index that answers repeated unclosed
// openers without scanning again. Internal to the component.
#pragma once

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <vector>

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
/// NulTerminatedText. May throw what upper-casing throws.
template <class Text>
bool FindPairEnd(const Text& t, std::size_t Pos, const Delimiters& d, const AnsiString& Open,
                 const AnsiString& Close, PairEnd& End);

/// Upper = AnsiUpperCase(Name), reusing Upper's buffer for an ASCII name.
void UpperInto(const AnsiString& Name, AnsiString& Upper);

/// What one expansion has learnt about the tags after a position: built when
/// a pair finds no closing tag (its scan ran to the end of the template), it
/// answers later openers from the same tags in logarithmic time, so that a
/// repeated opener that is never closed costs linear time, not quadratic. It
/// holds only for the delimiters it was built with, and for positions where a
/// scan from its start would also stop.
class PairIndex {
 public:
  /// Whether the index answers a scan from Pos; K is then the first tag of it.
  /// Positions mostly come in order, one tag apart: the last answer is tried
  /// first.
  bool Covers(const Delimiters& d, std::size_t Pos, std::size_t& K) {
    if (!FBuilt || d.beg.text != FBeg || d.end.text != FEnd) return false;
    if (Pos == FFrom) return K = FHint = 0, true;
    if (FHint < FTags.size() && FTags[FHint].next == Pos) return K = ++FHint, true;
    const auto it = std::lower_bound(FTags.begin(), FTags.end(), Pos,
                                     [](const Tag& tag, std::size_t p) { return tag.next < p; });
    if (it == FTags.end() || it->next != Pos) return false;
    K = FHint = static_cast<std::size_t>(it - FTags.begin()) + 1;
    return true;
  }

  /// Records every tag of t from From on, with the delimiters d.
  void Build(const BoundedText& t, std::size_t From, const Delimiters& d);

  /// The pair opened just before tag K: the same answer as FindPairEnd from
  /// there.
  bool Match(std::size_t K, const AnsiString& Open, const AnsiString& Close, PairEnd& End);

 private:
  struct Tag {
    std::size_t open, next;
    int id;  // the tag's upper-cased name, interned
  };
  // The running level over the openers and closers of one name.
  struct Levels {
    std::vector<std::size_t> tag;                                // their tag indexes
    std::vector<long long> after;                                // level after each
    std::unordered_map<long long, std::vector<std::size_t>> at;  // level -> entries
    static long long delta(int id, int open) { return id == open ? 1 : -1; }
  };

  int IdOf(const AnsiString& Name) const {
    const auto it = FIds.find(Name);
    return it == FIds.end() ? -1 : it->second;
  }
  const Levels& LevelsOf(int Open, int Close);

  bool FBuilt = false;
  AnsiString FBeg, FEnd;
  std::size_t FFrom = 0;
  std::size_t FHint = 0;  // the tag after the position Covers answered last
  AnsiString FLastOpen;   // the upper-cased opener Match saw last ("" for none)
  int FLastOpenId = -1, FLastCloseId = -1;
  std::vector<Tag> FTags;
  std::unordered_map<AnsiString, int> FIds;
  std::unordered_map<unsigned long long, Levels> FLevels;
};

/// The upper-cased names a pair step matches with, kept from the last pair
/// step: templates repeat their pair names, and upper-casing allocates. The
/// locale is read once per process, so a name always folds the same way.
struct UpperPairNames {
  bool valid = false;
  AnsiString name, open, close;
  /// Makes open and close those of Name ("/" before the closer).
  void For(const AnsiString& Name);
};

}  // namespace vek
