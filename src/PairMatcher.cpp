// The pair matcher and its index (see PairMatcher.h).
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
                 const AnsiString& Close, PairEnd& End) {
  long long depth = 1;
  AnsiString name;
  for (std::size_t p = Pos; t.HasMore(p);) {
    TagHit hit;
    if (FindTag(t, p, d, hit) != ScanResult::kTag) break;
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
                                       const AnsiString&, const AnsiString&, PairEnd&);
template bool FindPairEnd<NulTerminatedText>(const NulTerminatedText&, std::size_t,
                                             const Delimiters&, const AnsiString&,
                                             const AnsiString&, PairEnd&);

void PairIndex::Build(const BoundedText& t, std::size_t From, const Delimiters& d) {
  FBuilt = false;
  FTags.clear();
  FIds.clear();
  FLevels.clear();
  AnsiString name, upper;
  for (std::size_t p = From; t.HasMore(p);) {
    TagHit hit;
    if (FindTag(t, p, d, hit) != ScanResult::kTag) break;
    ParseName(hit.Text(t.data), name);
    UpperInto(name, upper);
    auto id = FIds.find(upper);
    if (id == FIds.end()) id = FIds.emplace(upper, int(FIds.size())).first;
    FTags.push_back({hit.open, hit.next, id->second});
    p = hit.next;
  }
  FBeg.assign(d.beg.text.data(), d.beg.text.size());
  FEnd.assign(d.end.text.data(), d.end.text.size());
  FFrom = From;
  FHint = 0;
  FLastOpen.clear();
  FBuilt = true;
}

bool PairIndex::Match(std::size_t K, const AnsiString& Open, const AnsiString& Close,
                      PairEnd& End) {
  if (FLastOpen.empty() || FLastOpen != Open) {  // a repeated opener reuses its names' ids
    FLastOpen.clear();
    FLastOpenId = IdOf(Open);
    FLastCloseId = IdOf(Close);
    FLastOpen = Open;
  }
  const int open = FLastOpenId, close = FLastCloseId;
  if (close < 0) return false;
  const Levels& lv = LevelsOf(open, close);
  // The first opener or closer at or after tag K, and the level before it.
  const std::size_t first =
      static_cast<std::size_t>(std::lower_bound(lv.tag.begin(), lv.tag.end(), K) - lv.tag.begin());
  if (first == lv.tag.size()) return false;
  const long long before = lv.after[first] - lv.delta(FTags[lv.tag[first]].id, open);
  // Levels move by one, so the pair closes at the first tag whose level
  // after it is one below the level before `first`.
  const auto found = lv.at.find(before - 1);
  if (found == lv.at.end()) return false;
  const auto it = std::lower_bound(found->second.begin(), found->second.end(), first);
  if (it == found->second.end()) return false;
  const Tag& tag = FTags[lv.tag[*it]];
  End.bodyEnd = tag.open;
  End.next = tag.next;
  return true;
}

const PairIndex::Levels& PairIndex::LevelsOf(int Open, int Close) {
  const unsigned long long key =
      (static_cast<unsigned long long>(static_cast<unsigned>(Open)) << 32) |
      static_cast<unsigned>(Close);
  const auto cached = FLevels.find(key);
  if (cached != FLevels.end()) return cached->second;
  Levels lv;
  long long level = 0;
  for (std::size_t i = 0; i < FTags.size(); ++i) {
    if (FTags[i].id != Open && FTags[i].id != Close) continue;
    level += Levels::delta(FTags[i].id, Open);
    lv.at[level].push_back(lv.tag.size());
    lv.tag.push_back(i);
    lv.after.push_back(level);
  }
  return FLevels.emplace(key, std::move(lv)).first->second;
}

void UpperPairNames::For(const AnsiString& Name) {
  if (valid && Name == name) return;
  valid = false;  // stays false should upper-casing throw
  name = Name;
  UpperInto(Name, open);
  close = "/" + open;
  valid = true;
}

}  // namespace vek
