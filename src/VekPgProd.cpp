#include "VekPgProd.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "FindBytes.h"

namespace {

using std::size_t;
using std::string_view;
constexpr size_t npos = string_view::npos;

// ---- Texts -------------------------------------------------------------------

// A delimiter as the search sees it: its bytes before the first NUL, like the
// C-string search of the host. Its length is that of the searched part, so a
// delimiter holding a NUL can never move a position past the template's end.
// Read at every tag; delimiters are short, so a plain walk is cheapest.
string_view SearchedPart(const AnsiString& Delimiter) {
  const char* s = Delimiter.data();
  size_t n = 0;
  while (n < Delimiter.size() && s[n] != '\0') ++n;
  return string_view(s, n);
}

string_view TrimView(string_view s) {
  while (!s.empty() && IsBlank(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && IsBlank(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

static_assert(vek::kNotFound == npos, "the search reports npos");

// A delimiter ready for searching: its searched part (NUL-terminated, as the
// string's own bytes are) and the needle prepared from it. Valid while the
// delimiter string is unchanged.
struct Delimiter {
  string_view text;
  vek::Needle needle;
  explicit Delimiter(const AnsiString& s)
      : text(SearchedPart(s)), needle(text.data(), text.size()) {}
};

struct Delimiters {
  Delimiter beg, end;
  Delimiters(const AnsiString& Beg, const AnsiString& End) : beg(Beg), end(End) {}
};

// The output of an expansion, appended to piece by piece. Most pieces are
// short (text between close tags, a handler's answer), and a string's append
// is out of line: the sink keeps a few hundred zero bytes past the written
// part inside the string's reserved buffer and copies short pieces there.
// Finish() cuts that margin off again.
class Sink {
 public:
  // Out is empty, with its buffer reserved.
  explicit Sink(AnsiString& Out) : FOut(Out), FUsed(0) {
    FOut.resize(std::min(kMargin, FOut.capacity()));
  }
  void Put(const char* p, size_t n) {
    if (n > FOut.size() - FUsed) return Grow(p, n);
    char* d = &FOut[FUsed];
    FUsed += n;
    if (n > 32) {
      std::memcpy(d, p, n);
    } else if (n >= 16) {  // two 16-byte moves, overlapping in the middle
      CopyEnds<16>(d, p, n);
    } else if (n >= 8) {
      CopyEnds<8>(d, p, n);
    } else if (n >= 4) {
      CopyEnds<4>(d, p, n);
    } else if (n > 0) {
      d[0] = p[0];
      d[n / 2] = p[n / 2];
      d[n - 1] = p[n - 1];
    }
  }
  void Put(const AnsiString& s) { Put(s.data(), s.size()); }
  void Finish() { FOut.resize(FUsed); }

 private:
  static constexpr size_t kMargin = 512;
  // n bytes (K <= n <= 2K) as the first K and the last K, without a call.
  template <size_t K>
  static void CopyEnds(char* d, const char* p, size_t n) {
    char head[K], tail[K];
    std::memcpy(head, p, K);
    std::memcpy(tail, p + n - K, K);
    std::memcpy(d, head, K);
    std::memcpy(d + n - K, tail, K);
  }
  void Grow(const char* p, size_t n) {
    FOut.resize(FUsed);
    FOut.append(p, n);
    FUsed = FOut.size();
    // Never past the reserved buffer: the margin never reallocates.
    FOut.resize(FUsed + std::min(kMargin, FOut.capacity() - FUsed));
  }
  AnsiString& FOut;
  size_t FUsed;
};

// A template whose visible length is known: the bytes before its first NUL.
// Used by the expansion loop, which measures the template once.
struct BoundedText {
  const char* data;
  size_t size;
  bool HasMore(size_t p) const { return p < size; }
  size_t Find(const Delimiter& d, size_t From) const {
    return vek::FindBytes(data, size, From, d.needle);
  }
  size_t End(size_t) const { return size; }
};

// A NUL-terminated template of unknown length, as the public steps get it.
// Every operation stops at the NUL, so each costs only the bytes it passes.
struct CText {
  const char* data;
  bool HasMore(size_t p) const { return data[p] != '\0'; }
  size_t Find(const Delimiter& d, size_t From) const {
    const char* f = std::strstr(data + From, d.text.data());
    return f == nullptr ? npos : static_cast<size_t>(f - data);
  }
  size_t End(size_t From) const { return From + std::strlen(data + From); }
};

// ---- Scanner -----------------------------------------------------------------

enum class ScanResult { kNoTag, kUnclosed, kTag };

// Where a tag lies: its opening delimiter at Open, its text in
// [TextBeg, TextEnd), and the first byte after its closing delimiter at Next.
struct TagHit {
  size_t open = 0, textBeg = 0, textEnd = 0, next = 0;
  string_view Text(const char* data) const {
    return TrimView(string_view(data + textBeg, textEnd - textBeg));
  }
};

// Finds the next tag from Pos. kUnclosed: an opening delimiter (at hit.open)
// with no closing one after it. The closing delimiter is searched only after
// the whole opening one, so delimiters that share bytes never overlap.
template <class Text>
ScanResult FindTag(const Text& t, size_t Pos, const Delimiters& d, TagHit& hit) {
  const string_view Beg = d.beg.text, End = d.end.text;
  if (Beg.empty()) return ScanResult::kNoTag;
  const size_t off = t.Find(d.beg, Pos);
  if (off == npos) return ScanResult::kNoTag;
  hit.open = off;
  if (End.empty()) return ScanResult::kUnclosed;
  const size_t e = t.Find(d.end, off + Beg.size());
  if (e == npos) return ScanResult::kUnclosed;
  hit.textBeg = off + Beg.size();
  hit.textEnd = e;
  hit.next = e + End.size();
  return ScanResult::kTag;
}

// ---- Parser ------------------------------------------------------------------

// The parameter list: the producer's own is a TStringList member, never of a
// derived class, so its calls need no virtual dispatch.
void ClearList(TStringList& List) {
  List.TStringList::Clear();
}
void ClearList(TStrings& List) {
  List.Clear();
}
void AddToList(TStringList& List, const AnsiString& S) {
  List.TStringList::Add(S);
}
void AddToList(TStrings& List, const AnsiString& S) {
  List.Add(S);
}

bool IsQuote(unsigned char c) {
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
template <class List>
void ParseTag(string_view TagText, AnsiString& Name, List* Params, AnsiString& Value) {
  Name.clear();
  if (Params != nullptr) ClearList(*Params);
  const string_view text = TrimView(TagText);
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();  // the added space stands at n
  const size_t len = n + 1;

  string_view prefix;
  // Emits the token V behind the pending prefix; true ends the scan.
  auto emitView = [&](string_view v) -> bool {
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
  auto emit = [&](size_t From, size_t To) -> bool {
    string_view v;
    const size_t stop = std::min(To + 1, n);  // the added space, a blank, never stays
    if (From < len && From <= To && From < stop) v = TrimView(text.substr(From, stop - From));
    return emitView(v);
  };

  size_t i = 0;
  for (;;) {
    // Between: skip blanks.
    while (i < n && s[i] != 0 && s[i] <= 32) ++i;
    if (i == n || s[i] == 0) return;
    size_t start = i;
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

// ---- Pair matching -----------------------------------------------------------

// A matched pair: the body ends at BodyEnd (the closing tag's opening
// delimiter), and the closing tag ends just before Next.
struct InnerMatch {
  size_t bodyEnd = 0, next = 0;
};

// The name of a tag, parsed from its text into Name.
void ParseName(string_view TagText, AnsiString& Name) {
  AnsiString unused;  // no parameters are parsed
  ParseTag(TagText, Name, static_cast<TStrings*>(nullptr), unused);
}

// Where the locale folds ASCII as "C" does, ASCII bytes fold one to one and
// can be compared or upper-cased as they stand.
bool AsciiFoldsPlainly() {
  static const bool plain = UpperCaseAsciiIsPlain();
  return plain;
}

// Upper = AnsiUpperCase(Name), reusing Upper's buffer for an ASCII name.
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

// Whether AnsiUpperCase(Name) == Upper. The ASCII bytes at the front of Name
// fold one to one (where the locale folds ASCII plainly), so they are
// compared as they stand; only a name with other bytes is upper-cased whole.
bool UpperEquals(const AnsiString& Name, const AnsiString& Upper) {
  if (AsciiFoldsPlainly()) {
    const auto* s = reinterpret_cast<const unsigned char*>(Name.data());
    const size_t n = Name.size();
    size_t i = 0;
    for (; i < n && s[i] < 0x80; ++i) {
      const unsigned char c = s[i] >= 'a' && s[i] <= 'z' ? s[i] - ('a' - 'A') : s[i];
      if (i == Upper.size() || c != static_cast<unsigned char>(Upper[i])) return false;
    }
    if (i == n) return n == Upper.size();
  }
  return AnsiUpperCase(Name) == Upper;
}

// Steps from tag to tag after Pos, counting same-name openers against
// closers, until the level of the pair at Pos closes.
template <class Text>
bool MatchInner(const Text& t, size_t Pos, const Delimiters& d, const AnsiString& Open,
                const AnsiString& Close, InnerMatch& m) {
  long long depth = 1;
  AnsiString name;
  for (size_t p = Pos; t.HasMore(p);) {
    TagHit hit;
    if (FindTag(t, p, d, hit) != ScanResult::kTag) break;
    ParseName(hit.Text(t.data), name);
    if (UpperEquals(name, Open))
      ++depth;
    else if (UpperEquals(name, Close))
      --depth;
    p = hit.next;
    if (depth <= 0) {
      m.bodyEnd = hit.open;
      m.next = hit.next;
      return true;
    }
  }
  return false;
}

// What one expansion has learnt about the tags after a position: built when
// a pair finds no closing tag (its scan ran to the end of the template), it
// answers later openers from the same tags in logarithmic time, so that a
// repeated opener that is never closed costs linear time, not quadratic. It
// holds only for the delimiters it was built with, and for positions where a
// scan from its start would also stop.
class PairIndex {
 public:
  // Whether the index answers a scan from Pos; K is then the first tag of it.
  // Positions mostly come in order, one tag apart: the last answer is tried
  // first.
  bool Covers(const Delimiters& d, size_t Pos, size_t& K) {
    if (!FBuilt || d.beg.text != FBeg || d.end.text != FEnd) return false;
    if (Pos == FFrom) return K = FHint = 0, true;
    if (FHint < FTags.size() && FTags[FHint].next == Pos) return K = ++FHint, true;
    const auto it = std::lower_bound(FTags.begin(), FTags.end(), Pos,
                                     [](const Tag& tag, size_t p) { return tag.next < p; });
    if (it == FTags.end() || it->next != Pos) return false;
    K = FHint = static_cast<size_t>(it - FTags.begin()) + 1;
    return true;
  }

  void Build(const BoundedText& t, size_t From, const Delimiters& d) {
    FBuilt = false;
    FTags.clear();
    FIds.clear();
    FLevels.clear();
    AnsiString name, upper;
    for (size_t p = From; t.HasMore(p);) {
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

  // The pair opened just before tag K: same as MatchInner from there.
  bool Match(size_t K, const AnsiString& Open, const AnsiString& Close, InnerMatch& m) {
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
    const size_t first =
        static_cast<size_t>(std::lower_bound(lv.tag.begin(), lv.tag.end(), K) - lv.tag.begin());
    if (first == lv.tag.size()) return false;
    const long long before = lv.after[first] - lv.delta(FTags[lv.tag[first]].id, open);
    // Levels move by one, so the pair closes at the first tag whose level
    // after it is one below the level before `first`.
    const auto found = lv.at.find(before - 1);
    if (found == lv.at.end()) return false;
    const auto it = std::lower_bound(found->second.begin(), found->second.end(), first);
    if (it == found->second.end()) return false;
    const Tag& tag = FTags[lv.tag[*it]];
    m.bodyEnd = tag.open;
    m.next = tag.next;
    return true;
  }

 private:
  struct Tag {
    size_t open, next;
    int id;  // the tag's upper-cased name, interned
  };
  // The running level over the openers and closers of one name.
  struct Levels {
    std::vector<size_t> tag;                                // their tag indexes
    std::vector<long long> after;                           // level after each
    std::unordered_map<long long, std::vector<size_t>> at;  // level -> entries
    static long long delta(int id, int open) { return id == open ? 1 : -1; }
  };

  int IdOf(const AnsiString& Name) const {
    const auto it = FIds.find(Name);
    return it == FIds.end() ? -1 : it->second;
  }

  const Levels& LevelsOf(int Open, int Close) {
    const unsigned long long key =
        (static_cast<unsigned long long>(static_cast<unsigned>(Open)) << 32) |
        static_cast<unsigned>(Close);
    const auto cached = FLevels.find(key);
    if (cached != FLevels.end()) return cached->second;
    Levels lv;
    long long level = 0;
    for (size_t i = 0; i < FTags.size(); ++i) {
      if (FTags[i].id != Open && FTags[i].id != Close) continue;
      level += Levels::delta(FTags[i].id, Open);
      lv.at[level].push_back(lv.tag.size());
      lv.tag.push_back(i);
      lv.after.push_back(level);
    }
    return FLevels.emplace(key, std::move(lv)).first->second;
  }

  bool FBuilt = false;
  AnsiString FBeg, FEnd;
  size_t FFrom = 0;
  size_t FHint = 0;      // the tag after the position Covers answered last
  AnsiString FLastOpen;  // the upper-cased opener Match saw last ("" for none)
  int FLastOpenId = -1, FLastCloseId = -1;
  std::vector<Tag> FTags;
  std::unordered_map<AnsiString, int> FIds;
  std::unordered_map<unsigned long long, Levels> FLevels;
};

// The upper-cased names a pair step matches with, kept from the last pair
// step: templates repeat their pair names, and upper-casing allocates. The
// locale is read once per process, so a name always folds the same way.
struct PairNames {
  bool valid = false;
  AnsiString name, open, close;
  void For(const AnsiString& Name) {
    if (valid && Name == name) return;
    valid = false;  // stays false should upper-casing throw
    name = Name;
    UpperInto(Name, open);
    close = "/" + open;
    valid = true;
  }
};

// ---- Argument checks of the public int-position steps ------------------------

void CheckText(const char* Text, int Pos, const char* Operation) {
  if (Text == nullptr) throw std::invalid_argument(std::string(Operation) + ": Text is null");
  if (Pos < 0)
    throw std::out_of_range(std::string(Operation) + ": negative position " + std::to_string(Pos));
}

int AdvancedPos(int Pos, size_t By, const char* Operation) {
  if (By > static_cast<size_t>(INT_MAX - Pos))
    throw std::overflow_error(std::string(Operation) + ": position does not fit in an int");
  return Pos + static_cast<int>(By);
}

}  // namespace

// ---- The expansion -------------------------------------------------------------

// The expansion loop, with access to the producer's fields.
struct TVekExpansion {
  static AnsiString Run(TVekPageProducer& p, const AnsiString& Doc);
  static bool PairStep(TVekPageProducer& p, const BoundedText& t, size_t& pos,
                       std::optional<PairIndex>& index, PairNames& names, Sink& out);
};

AnsiString TVekExpansion::Run(TVekPageProducer& p, const AnsiString& Doc) {
  if (p.FVekTagBeg.empty() || p.FVekTagEnd.empty() || Doc.empty()) return AnsiString();

  // The loop overwrites the tag name and parameters at every tag; a template
  // that is one of them (a handler expanding its own parameter) is copied first.
  bool aliased = &Doc == &p.FTagName;
  for (int i = 0; i < p.FTagParams.Count() && !aliased; ++i) aliased = &Doc == &p.FTagParams[i];
  if (aliased) return Run(p, AnsiString(Doc));

  const char* data = Doc.data();
  const void* nul = std::memchr(data, 0, Doc.size());
  const BoundedText t{data,
                      nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : Doc.size()};
  AnsiString out;
  // Room for the template and an eighth more: answers a little longer than
  // their tags then cost no reallocation, which would copy the whole output
  // and, for large outputs, map fresh memory at every expansion.
  out.reserve(t.size + t.size / 8);
  Sink sink(out);
  std::optional<PairIndex> index;  // built when a pair finds no closing tag
  PairNames pairNames;
  // The delimiters are read at every tag, since a handler may change them;
  // they are prepared again only when they did change.
  Delimiters delimiters(p.FVekTagBeg, p.FVekTagEnd);
  unsigned long long edits = p.FDelimiterEdits;
  // Scratch that serves tag after tag, so that short names, parameters and
  // answers cost no allocation. RetText is "" on every entry all the same.
  AnsiString value, retText;
  size_t pos = 0;
  while (pos < t.size) {
    if (p.FDelimiterEdits != edits) {
      delimiters = Delimiters(p.FVekTagBeg, p.FVekTagEnd);
      edits = p.FDelimiterEdits;
    }
    TagHit hit;
    const ScanResult r = FindTag(t, pos, delimiters, hit);
    if (r != ScanResult::kTag) {  // the rest, up to an unclosed opening delimiter
      sink.Put(data + pos, (r == ScanResult::kNoTag ? t.size : hit.open) - pos);
      break;
    }
    sink.Put(data + pos, hit.open - pos);
    pos = hit.next;
    // The parser trims the tag's text itself.
    ParseTag(string_view(data + hit.textBeg, hit.textEnd - hit.textBeg), p.FTagName, &p.FTagParams,
             value);

    retText.clear();
    int retState = rsContinue;
    if (p.FOnVekTag) p.FOnVekTag(&p, p.FTagName, &p.FTagParams, retText, retState);
    sink.Put(retText);
    if (retState == rsStop) break;
    if (retState == rsPairTag && PairStep(p, t, pos, index, pairNames, sink)) break;
  }
  sink.Finish();
  return out;
}

// The pair step, after OnVekTag answered rsPairTag for the tag just before
// pos; true when the expansion stops.
bool TVekExpansion::PairStep(TVekPageProducer& p, const BoundedText& t, size_t& pos,
                             std::optional<PairIndex>& index, PairNames& names, Sink& out) {
  AnsiString body;
  try {
    // The name is read now: a re-entrant expansion in OnVekTag may have changed it.
    names.For(p.FTagName);
    const AnsiString& open = names.open;
    const AnsiString& close = names.close;
    const Delimiters d(p.FVekTagBeg, p.FVekTagEnd);
    InnerMatch m;
    size_t k = 0;
    bool found;
    if (index && index->Covers(d, pos, k)) {
      found = index->Match(k, open, close, m);
    } else {
      found = MatchInner(t, pos, d, open, close, m);
      if (!found) {  // that scan ran to the end
        if (!index) index.emplace();
        index->Build(t, pos, d);
      }
    }
    if (found) {
      body.assign(t.data + pos, m.bodyEnd - pos);
      pos = m.next;
    }
  } catch (...) {
    // A failure while matching is an empty body; pos moved only on success.
    body.clear();
  }
  // An empty body fires nothing: without a match the loop goes on right after
  // the opening tag; with an empty pair it goes on after the closing tag.
  if (body.empty()) return false;

  AnsiString retText;
  int retState = rsContinue;
  if (p.FOnVekPairTag) p.FOnVekPairTag(&p, p.FTagName, &p.FTagParams, body, retText, retState);
  out.Put(retText);
  return retState == rsStop;
}

// ---- TVekPageProducer ------------------------------------------------------------

TVekPageProducer::TVekPageProducer(TComponent* Owner)
    : TCustomContentProducer(Owner), FVekTagBeg("<#"), FVekTagEnd("#>") {}

TVekPageProducer::~TVekPageProducer() = default;

AnsiString TVekPageProducer::Execute(const AnsiString& Doc) {
  return TVekExpansion::Run(*this, Doc);
}

AnsiString TVekPageProducer::Execute(TStrings* Doc) {
  if (Doc == nullptr) throw std::invalid_argument("Execute: Doc is null");
  return Execute(Doc->Text());
}

AnsiString TVekPageProducer::Content() {
  return Execute(FHTMLDoc.Text());
}

AnsiString TVekPageProducer::ContentFromStream(TStream* Stream) {
  if (Stream == nullptr) throw std::invalid_argument("ContentFromStream: Stream is null");
  FResultList.LoadFromStream(Stream);
  const AnsiString text = FResultList.Text();
  FResultList.Clear();
  return Execute(text);
}

AnsiString TVekPageProducer::ContentFromString(const AnsiString& S) {
  return Execute(S);
}

TStrings* TVekPageProducer::GetHTMLResult() {
  const AnsiString result = Content();
  FResultList.SetText(result);
  return &FResultList;
}

void TVekPageProducer::SetHTMLResult(TStrings*) {}

void TVekPageProducer::SetHTMLDoc(TStrings* Value) {
  if (Value == nullptr) throw std::invalid_argument("SetHTMLDoc: Value is null");
  FHTMLDoc.Assign(Value);
}

void TVekPageProducer::SetVekTagBeg(const AnsiString& Value) {
  FVekTagBeg = Value;
  ++FDelimiterEdits;
}

void TVekPageProducer::SetVekTagEnd(const AnsiString& Value) {
  FVekTagEnd = Value;
  ++FDelimiterEdits;
}

void TVekPageProducer::DeclareProperties(TPropertyList& Properties) {
  TCustomContentProducer::DeclareProperties(Properties);
  Properties.AddStrings(
      "HTMLDoc", [this] { return &FHTMLDoc; }, [this](TStrings* Value) { SetHTMLDoc(Value); });
  Properties.AddString(
      "VekTagBeg", [this] { return FVekTagBeg; },
      [this](const AnsiString& Value) { SetVekTagBeg(Value); });
  Properties.AddString(
      "VekTagEnd", [this] { return FVekTagEnd; },
      [this](const AnsiString& Value) { SetVekTagEnd(Value); });
  Properties.AddEvent<TVekTagEvent>(
      "OnVekTag", [this] { return FOnVekTag; },
      [this](TVekTagEvent Value) { SetOnVekTag(std::move(Value)); });
  Properties.AddEvent<TVekPairTagEvent>(
      "OnVekPairTag", [this] { return FOnVekPairTag; },
      [this](TVekPairTagEvent Value) { SetOnVekPairTag(std::move(Value)); });
}

bool TVekPageProducer::ExtractNextTag(const char* Text, int& Pos, AnsiString* Before,
                                      AnsiString* Tag) {
  if (Tag == nullptr) throw std::invalid_argument("ExtractNextTag: Tag is null");
  CheckText(Text, Pos, "ExtractNextTag");
  const CText t{Text + Pos};
  TagHit hit;
  const ScanResult r = FindTag(t, 0, Delimiters(FVekTagBeg, FVekTagEnd), hit);
  if (r == ScanResult::kTag) {
    const int next = AdvancedPos(Pos, hit.next, "ExtractNextTag");
    AnsiString tag(hit.Text(t.data));
    if (Before != nullptr) Before->append(t.data, hit.open);
    *Tag = std::move(tag);
    Pos = next;
    return true;
  }
  Tag->clear();
  if (Before != nullptr) Before->append(t.data, r == ScanResult::kNoTag ? t.End(0) : hit.open);
  return false;
}

void TVekPageProducer::ExtractTagParams(const AnsiString& TagText, AnsiString& Name,
                                        TStrings* Params) {
  // Name and Params are cleared first: a TagText that is one of them is copied.
  bool aliased = &TagText == &Name;
  for (int i = 0; Params != nullptr && i < Params->Count() && !aliased; ++i)
    aliased = &TagText == &Params->Get(i);
  AnsiString value;
  if (aliased) {
    const AnsiString copy(TagText);
    ParseTag(copy, Name, Params, value);
  } else {
    ParseTag(TagText, Name, Params, value);
  }
}

void TVekPageProducer::ExtractInnerText(const AnsiString& TagName, const char* Text, int& Pos,
                                        AnsiString& Inner) {
  CheckText(Text, Pos, "ExtractInnerText");
  const AnsiString open = AnsiUpperCase(TagName);
  const AnsiString close = "/" + open;
  const CText t{Text + Pos};
  InnerMatch m;
  if (!MatchInner(t, 0, Delimiters(FVekTagBeg, FVekTagEnd), open, close, m)) {
    Inner.clear();
    return;
  }
  const int next = AdvancedPos(Pos, m.next, "ExtractInnerText");
  Inner.assign(t.data, m.bodyEnd);
  Pos = next;
}

// ---- Unit entries: class reference and registration ---------------------------------

namespace {
TComponent* CreateVekPageProducer(TComponent* Owner) {
  return new TVekPageProducer(Owner);
}
}  // namespace

const TComponentClassInfo TVekPageProducer::ClassRef = {
    "TVekPageProducer", &typeid(TVekPageProducer), &CreateVekPageProducer};

namespace VekPgProd {

void Register() {
  const TComponentClass classes[] = {&TVekPageProducer::ClassRef};
  RegisterComponents("Internet", classes, 1);
}

void Initialization() {}
void Finalization() {}

}  // namespace VekPgProd
