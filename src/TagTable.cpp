// The tag table (see TagTable.h).
#include "TagTable.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "TagParser.h"

namespace vek {

namespace {

// Where ParseTag puts the parameters while a table is built: into the pool.
struct PieceCollector {
  AnsiString& pool;
  std::vector<TagTable::Piece>& params;
};

// Found by ParseTag through argument-dependent lookup.
void ClearList(PieceCollector&) {}
void AddToList(PieceCollector& C, const AnsiString& S) {
  C.params.push_back({C.pool.size(), S.size()});
  C.pool.append(S);
}

}  // namespace

void TagTable::Build(const BoundedText& t, std::size_t From, const Delimiters& d) {
  FBuilt = false;
  FTags.clear();
  FParams.clear();
  FPool.clear();
  FNames.clear();
  FSlots.assign(64, 0);
  FUpper.clear();
  FCloserOf.clear();
  FPendingClosers = 0;
  FByIdStart.clear();
  FByIdTags.clear();
  FLevels.clear();
  constexpr std::size_t kMaxIndex = std::numeric_limits<std::uint32_t>::max();
  PieceCollector collector{FPool, FParams};
  AnsiString name, value, upper;
  int lastId = -1;
  Piece last;  // the name of the last tag
  std::size_t p = From;
  FStop = t.size;
  while (t.HasMore(p)) {
    TagHit hit;
    const ScanResult r = FindTag(t, p, d, hit);
    if (r != ScanResult::Tag) {
      if (r == ScanResult::Unclosed) FStop = hit.open;
      break;
    }
    if (FTags.size() >= kMaxIndex) throw std::length_error("tag table: too many tags");
    Tag tag;
    tag.open = hit.open;
    tag.next = hit.next;
    tag.firstParam = static_cast<std::uint32_t>(FParams.size());
    ParseTag(std::string_view(t.data + hit.textBeg, hit.textEnd - hit.textBeg), name, &collector,
             value);
    if (FParams.size() >= kMaxIndex) throw std::length_error("tag table: too many parameters");
    tag.params = static_cast<std::uint32_t>(FParams.size() - tag.firstParam);
    tag.name = {FPool.size(), name.size()};
    FPool.append(name);
    // Templates repeat names: the last one's id serves again without hashing.
    if (lastId < 0 || Text(last) != Text(tag.name)) {
      UpperInto(name, upper);
      lastId = Intern(upper);
    }
    last = tag.name;
    tag.id = lastId;
    FTags.push_back(tag);
    p = hit.next;
  }
  // The tags of each id, by counting.
  FByIdStart.assign(FNames.size() + 1, 0);
  for (const Tag& tag : FTags) ++FByIdStart[static_cast<std::size_t>(tag.id) + 1];
  for (std::size_t i = 1; i < FByIdStart.size(); ++i) FByIdStart[i] += FByIdStart[i - 1];
  FByIdTags.resize(FTags.size());
  {
    std::vector<std::uint32_t> fill(FByIdStart.begin(), FByIdStart.end() - 1);
    for (std::size_t i = 0; i < FTags.size(); ++i)
      FByIdTags[fill[static_cast<std::size_t>(FTags[i].id)]++] = static_cast<std::uint32_t>(i);
  }
  FBeg.assign(d.beg.text.data(), d.beg.text.size());
  FEnd.assign(d.end.text.data(), d.end.text.size());
  FFrom = From;
  FBuilt = true;
}

std::size_t TagTable::Bytes() const {
  std::size_t ids = FNames.capacity() * sizeof(Name) + FUpper.capacity();
  ids += (FSlots.capacity() + FByIdStart.capacity() + FByIdTags.capacity() + FCloserOf.capacity()) *
         sizeof(std::uint32_t);
  return sizeof *this + FTags.capacity() * sizeof(Tag) + FParams.capacity() * sizeof(Piece) +
         FPool.capacity() + ids;
}

void TagTable::Trim() {
  FTags.shrink_to_fit();
  FParams.shrink_to_fit();
  FPool.shrink_to_fit();
  FNames.shrink_to_fit();
  FUpper.shrink_to_fit();
  FCloserOf.shrink_to_fit();
}

std::uint64_t TagTable::HashName(std::string_view Upper) {
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (const char c : Upper) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h ^ (h >> 32);
}

int TagTable::IdOf(std::string_view Upper) const {
  return FSlots.empty() ? -1 : IdOf(Upper, HashName(Upper));
}

int TagTable::IdOf(std::string_view Upper, std::uint64_t h) const {
  const std::size_t mask = FSlots.size() - 1;
  for (std::size_t i = h & mask;; i = (i + 1) & mask) {
    const std::uint32_t slot = FSlots[i];
    if (slot == 0) return -1;
    const Name& n = FNames[slot - 1];
    if (n.hash == h && std::string_view(FUpper.data() + n.off, n.len) == Upper)
      return static_cast<int>(slot - 1);
  }
}

int TagTable::Intern(std::string_view Upper) {
  const std::uint64_t h = HashName(Upper);
  const int known = IdOf(Upper, h);
  if (known >= 0) return known;
  if (FNames.size() >= std::numeric_limits<std::uint32_t>::max() / 4)
    throw std::length_error("tag table: too many names");
  if (2 * (FNames.size() + 1) > FSlots.size()) {  // grow: twice the slots
    std::vector<std::uint32_t> slots(FSlots.size() * 2, 0);
    const std::size_t mask = slots.size() - 1;
    for (std::size_t id = 0; id < FNames.size(); ++id) {
      std::size_t i = FNames[id].hash & mask;
      while (slots[i] != 0) i = (i + 1) & mask;
      slots[i] = static_cast<std::uint32_t>(id + 1);
    }
    FSlots.swap(slots);
  }
  FNames.push_back({FUpper.size(), Upper.size(), h});
  FUpper.append(Upper.data(), Upper.size());
  const std::size_t mask = FSlots.size() - 1;
  std::size_t i = h & mask;
  while (FSlots[i] != 0) i = (i + 1) & mask;
  FSlots[i] = static_cast<std::uint32_t>(FNames.size());
  const int id = static_cast<int>(FNames.size() - 1);
  FCloserOf.push_back(-1);
  if (!Upper.empty() && Upper[0] == '/') {
    const std::string_view opener = Upper.substr(1);
    const int o = IdOf(opener, HashName(opener));
    if (o >= 0)
      FCloserOf[static_cast<std::size_t>(o)] = id;
    else
      ++FPendingClosers;
  }
  if (FPendingClosers != 0) {
    FCloserName.assign(1, '/');
    FCloserName.append(Upper.data(), Upper.size());
    const int c = IdOf(FCloserName, HashName(FCloserName));
    if (c >= 0) {
      FCloserOf[static_cast<std::size_t>(id)] = c;
      --FPendingClosers;
    }
  }
  return id;
}

std::size_t TagTable::Match(std::size_t K, int Open, int Close) const {
  if (Close < 0) return npos;
  std::size_t nOpen, nClose;
  const std::uint32_t* opens = ById(Open, nOpen);
  const std::uint32_t* closes = ById(Close, nClose);
  if (nOpen + nClose <= 32) {  // few: merged on the fly, counting the depth
    std::size_t i = static_cast<std::size_t>(std::lower_bound(opens, opens + nOpen, K) - opens);
    std::size_t j = static_cast<std::size_t>(std::lower_bound(closes, closes + nClose, K) - closes);
    for (std::size_t depth = 1; j < nClose;) {
      if (i < nOpen && opens[i] < closes[j]) {
        ++depth, ++i;
      } else {
        if (--depth == 0) return closes[j];
        ++j;
      }
    }
    return npos;
  }
  const Levels& lv = LevelsOf(Open, Close);
  const std::size_t first =
      static_cast<std::size_t>(std::lower_bound(lv.tag.begin(), lv.tag.end(), K) - lv.tag.begin());
  if (first == lv.tag.size() || lv.closes[first] == kNone) return npos;
  return lv.tag[lv.closes[first]];
}

const TagTable::Levels& TagTable::LevelsOf(int Open, int Close) const {
  const unsigned long long key =
      (static_cast<unsigned long long>(static_cast<unsigned>(Open)) << 32) |
      static_cast<unsigned>(Close);
  const auto cached = FLevels.find(key);
  if (cached != FLevels.end()) return cached->second;
  // The openers and closers merged in order: the cost is their number, not
  // that of all tags, so that many distinct names stay linear in total.
  std::size_t nOpen, nClose;
  const std::uint32_t* opens = ById(Open, nOpen);
  const std::uint32_t* closes = ById(Close, nClose);
  Levels lv;
  const std::size_t n = nOpen + nClose;
  lv.tag.resize(n);
  std::merge(opens, opens + nOpen, closes, closes + nClose, lv.tag.begin());
  // Levels move by one. Entry e, with level L before it, is answered by the
  // first entry from e on whose level after it is L - 1: found from the
  // right, with the leftmost entry seen so far after each level.
  std::vector<long long> before(n);
  long long level = 0, low = 0;
  for (std::size_t e = 0; e < n; ++e) {
    before[e] = level;
    level += FTags[lv.tag[e]].id == Open ? 1 : -1;
    low = std::min(low, level);
  }
  const long long high = static_cast<long long>(n);
  std::vector<std::uint32_t> leftmost(static_cast<std::size_t>(high - low + 2), kNone);
  lv.closes.resize(n);
  for (std::size_t e = n; e-- > 0;) {
    const long long after = before[e] + (FTags[lv.tag[e]].id == Open ? 1 : -1);
    leftmost[static_cast<std::size_t>(after - low)] = static_cast<std::uint32_t>(e);
    const long long want = before[e] - 1;
    lv.closes[e] = want < low ? kNone : leftmost[static_cast<std::size_t>(want - low)];
  }
  return FLevels.emplace(key, std::move(lv)).first->second;
}

}  // namespace vek
