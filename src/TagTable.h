// The tag table: every tag of a template from one position on, found with one
// pair of delimiters, with its parsed name and parameters and its upper-cased
// name as pair matching compares it. The expansion runs from it instead of
// scanning (a prepared template), and answers pair steps from it in
// logarithmic time. Internal to the component.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "AnsiString.h"
#include "PairMatcher.h"
#include "TemplateText.h"

namespace vek {

class TagTable {
 public:
  /// A name or parameter: bytes of the table's pool.
  struct Piece {
    std::size_t off = 0, len = 0;
  };
  struct Tag {
    std::size_t open = 0, next = 0;  // the opening delimiter; the byte after the closing one
    Piece name;
    std::uint32_t firstParam = 0, params = 0;  // into Params()
    int id = 0;                                // the upper-cased name, interned
  };

  /// Records every tag of t from From on with the delimiters d, as the scan
  /// of the expansion loop finds them one after the other. May throw what
  /// allocation and upper-casing throw; the table is then empty and unusable.
  void Build(const BoundedText& t, std::size_t From, const Delimiters& d);

  bool Built() const { return FBuilt; }
  /// Whether the table holds for the delimiters d: those it was built with.
  bool HoldsFor(const Delimiters& d) const {
    return FBuilt && d.beg.text == FBeg && d.end.text == FEnd;
  }
  std::size_t From() const { return FFrom; }
  /// Where the output ends after the last tag: the end of the text, or an
  /// opening delimiter that has no closing one.
  std::size_t Stop() const { return FStop; }
  const std::vector<Tag>& Tags() const { return FTags; }
  const Piece* Params() const { return FParams.data(); }
  std::string_view Text(const Piece& p) const {
    return std::string_view(FPool.data() + p.off, p.len);
  }
  /// The bytes the table holds, for bounding caches of tables.
  std::size_t Bytes() const;
  /// Gives back the room its buffers grew by while building: for a table
  /// that is kept. May throw what allocation throws (the table is unchanged).
  void Trim();

  /// The id of an upper-cased name, or -1 when no tag has it.
  int IdOf(std::string_view Upper) const;
  /// The id of the closer of the name with id Id ("/" and that upper-cased
  /// name), or -1 when no tag has it. A pair step whose opener is a tag of
  /// the table finds both ids without hashing: at many distinct names the
  /// hash slots lie far apart in memory, and each look-up would miss the
  /// caches.
  int CloserOf(int Id) const { return FCloserOf[static_cast<std::size_t>(Id)]; }

  /// The pair opened just before tag K whose opener and closer have the ids
  /// Open and Close (-1: no tag has it): the index of its closing tag, or
  /// npos when it is never closed. The same answer as FindPairEnd from that
  /// tag's position. Costs the openers and closers of these names once per
  /// pair of names (walked directly when they are few), then logarithmic
  /// time.
  std::size_t Match(std::size_t K, int Open, int Close) const;

 private:
  // The openers and closers of one pair of names in order, and for each the
  // entry where the level of the pair opened before it closes (kNone: never).
  struct Levels {
    std::vector<std::uint32_t> tag, closes;
  };
  static constexpr std::uint32_t kNone = ~std::uint32_t(0);
  const Levels& LevelsOf(int Open, int Close) const;
  // The tag indexes of the tags with id Id, in order.
  const std::uint32_t* ById(int Id, std::size_t& Count) const {
    if (Id < 0) return Count = 0, nullptr;
    const std::size_t i = static_cast<std::size_t>(Id);
    Count = FByIdStart[i + 1] - FByIdStart[i];
    return FByIdTags.data() + FByIdStart[i];
  }

  bool FBuilt = false;
  AnsiString FBeg, FEnd;
  std::size_t FFrom = 0, FStop = 0;
  std::vector<Tag> FTags;
  std::vector<Piece> FParams;
  AnsiString FPool;
  // The upper-cased names, interned: their bytes in FUpper, found by hash in
  // FSlots (open addressing, at most half full; an id + 1, or 0 when empty).
  // Flat, so that a template of many distinct names costs no allocation per
  // name.
  struct Name {
    std::size_t off, len;
    std::uint64_t hash;
  };
  static std::uint64_t HashName(std::string_view Upper);
  int IdOf(std::string_view Upper, std::uint64_t Hash) const;  // FSlots not empty
  int Intern(std::string_view Upper);
  std::vector<Name> FNames;
  std::vector<std::uint32_t> FSlots;
  AnsiString FUpper;
  // Per id, the closer's id (-1: none). Set when a closer is interned after
  // its opener's name (whose slot was just touched, so the look-up is
  // cheap), else when the opener's name comes: closers seen before their
  // opener are counted, and only while some are pending does a new name
  // look its closer up.
  std::vector<std::int32_t> FCloserOf;
  std::size_t FPendingClosers = 0;
  AnsiString FCloserName;                            // scratch: "/" and a name
  std::vector<std::uint32_t> FByIdStart, FByIdTags;  // tag indexes per id, in order
  // Filled as pairs are matched; an expansion and the ones nested in it may
  // share a table, and none holds a reference across a handler call.
  mutable std::unordered_map<unsigned long long, Levels> FLevels;
};

}  // namespace vek
