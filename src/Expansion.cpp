// The expansion loop: copies literal text, hands every tag to OnVekTag and
// every pair body to OnVekPairTag (see Expansion.h). It runs from a tag table
// where one holds for the present delimiters (a prepared text, or the table
// built when a pair found no closing tag), and scans otherwise.
#include "Expansion.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <type_traits>

#include "OutputSink.h"
#include "PairMatcher.h"
#include "PreparedTexts.h"
#include "TagParser.h"
#include "TagTable.h"
#include "TemplateText.h"

using vek::BoundedText;
using vek::Delimiters;
using vek::OutputSink;
using vek::PairEnd;
using vek::PreparedText;
using vek::ScanResult;
using vek::TagHit;
using vek::TagTable;

namespace {

// S = the n bytes at p. A string's assign is out of line; names mostly keep
// or change their length by a byte or two, which inline calls manage.
inline void AssignShort(AnsiString& S, const char* p, std::size_t n) {
  if (n > S.capacity() || n > S.size() + 4) return void(S.assign(p, n));
  if (n < S.size()) S.erase(n);
  while (S.size() < n) S.push_back('\0');
  char* d = &S[0];
  if (n > 16) return void(std::memcpy(d, p, n));
  // Short: the first and the last K bytes, overlapping in the middle, in
  // moves the compiler makes inline.
  const auto ends = [&](auto k) {
    constexpr std::size_t K = decltype(k)::value;
    char head[K], tail[K];
    std::memcpy(head, p, K);
    std::memcpy(tail, p + n - K, K);
    std::memcpy(d, head, K);
    std::memcpy(d + n - K, tail, K);
  };
  if (n >= 8) {
    ends(std::integral_constant<std::size_t, 8>());
  } else if (n >= 4) {
    ends(std::integral_constant<std::size_t, 4>());
  } else if (n > 0) {
    d[0] = p[0];
    d[n / 2] = p[n / 2];
    d[n - 1] = p[n - 1];
  }
}

// Whether Doc is the producer's tag name or one of its parameters, which the
// loop overwrites at every tag (a handler expanding its own parameter).
bool IsTagField(const TVekPageProducer& p, const AnsiString& Doc) {
  if (&Doc == &p.TagName()) return true;
  const TStrings* params = p.TagParams();
  for (int i = 0; i < params->Count(); ++i)
    if (&Doc == &params->Get(i)) return true;
  return false;
}

}  // namespace

// One expansion of one text.
class TVekLoop {
 public:
  /// D: the producer's delimiters, prepared. T's bytes before NulFree hold
  /// no NUL; the loop looks for one in the rest as it goes, and the text ends
  /// there (T.size is the text's size when none is known to be NUL-free).
  /// While the loop lives, Out is the page that ExpandBody writes to.
  TVekLoop(TVekPageProducer& P, const BoundedText& T, std::size_t NulFree, const Delimiters& D,
           OutputSink& Out)
      : p(P),
        t(T),
        sink(Out),
        delimiters(D),
        edits(p.FDelimiterEdits),
        known(NulFree),
        outerPage(p.FPrepared->page) {
    p.FPrepared->page = &sink;
  }
  ~TVekLoop() {
    p.FPrepared->page = outerPage;
    // The next expansion builds its table in the same buffers: no growing
    // vectors, no fresh pages. Kept only up to a bound.
    if (own && !p.FPrepared->spareTable && own->Bytes() <= vek::PreparedTexts::kMaxSpareBytes)
      p.FPrepared->spareTable = std::move(own);
  }
  TVekLoop(const TVekLoop&) = delete;
  TVekLoop& operator=(const TVekLoop&) = delete;

  /// Runs from Table (which holds for the present delimiters) when given.
  /// Leaves the sink open: the caller finishes it.
  void Run(const TagTable* Table) {
    table = Table;
    k = 0;
    pos = table != nullptr ? table->From() : 0;
    while (Step()) {
    }
    PutAnswer();
  }

 private:
  // Takes the delimiters again when a handler changed them; a table made
  // with others no longer holds, and the loop goes on by scanning.
  void CheckDelimiters() {
    if (p.FDelimiterEdits == edits) return;
    delimiters = Delimiters(p.FVekTagBeg, p.FVekTagEnd);
    edits = p.FDelimiterEdits;
    if (table != nullptr && !table->HoldsFor(delimiters)) table = nullptr;
  }

  // One tag; false when the expansion ends. Inlined into Run's loop: a call
  // per tag costs saving and restoring registers at every tag.
#if defined(__GNUC__)
  __attribute__((always_inline))
#endif
  bool
  Step() {
    CheckDelimiters();
    const char* data = t.data;
    if (table != nullptr) {
      const auto& tags = table->Tags();
      PutAnswer();
      if (k == tags.size()) {
        sink.Put(data + pos, table->Stop() - pos, t.size - table->Stop());
        return false;
      }
      const TagTable::Tag& tag = tags[k++];
      sink.Put(data + pos, tag.open - pos, t.size - tag.open);
      pos = tag.next;
      const std::string_view name = table->Text(tag.name);
      AssignShort(p.FTagName, name.data(), name.size());
      if (tag.params != 0 || p.FTagParams.Count() != 0) PutParams(tag);
    } else {
      if (pos >= t.size) return false;
      TagHit hit;
      const ScanResult r = FindTagBeforeNul(hit);
      PutAnswer();
      if (r != ScanResult::Tag) {  // the rest, up to an unclosed opening delimiter
        sink.Put(data + pos, (r == ScanResult::NoTag ? t.size : hit.open) - pos);
        return false;
      }
      // The parser trims the tag's text itself. The name is written before
      // the literal text is copied, so that the handler finds its bytes in
      // the cache rather than in stores still under way.
      vek::ParseTag(std::string_view(data + hit.textBeg, hit.textEnd - hit.textBeg), p.FTagName,
                    &p.FTagParams, value);
      sink.Put(data + pos, hit.open - pos, t.size - hit.open);
      pos = hit.next;
    }

    retText.clear();
    int retState = rsContinue;
    if (p.FOnVekTag) p.FOnVekTag(&p, p.FTagName, &p.FTagParams, retText, retState);
    // The answer goes into the page at the next step, after the search for
    // the next tag: copied right away, its bytes would be read back while
    // the handler's stores to them are still under way, which stalls.
    if (retState == rsStop) return false;
    if (retState == rsPairTag) {
      PutAnswer();
      if (PairStep()) return false;
    }
    return true;
  }

  // TagParams = the parameters of the table's tag. A list that holds as
  // many lines already (the last tag's, mostly) gets them overwritten in
  // place, without a line freed and made again; SetSorted(false), which
  // changes nothing else on an unsorted list, counts the change for
  // ChangeCount. A sorted list (a handler sorted it) is filled through Add.
  // Out of the loop's line: most tags have no parameters.
#if defined(__GNUC__)
  __attribute__((noinline))
#endif
  void
  PutParams(const TagTable::Tag& tag) {
    TStringList& list = p.FTagParams;
    const TagTable::Piece* params = table->Params() + tag.firstParam;
    if (static_cast<std::uint32_t>(list.Count()) == tag.params && !list.Sorted()) {
      for (std::uint32_t i = 0; i < tag.params; ++i) {
        const std::string_view v = table->Text(params[i]);
        // The list's own line, not a const object: Get only hands it out read-only.
        auto& line = const_cast<AnsiString&>(list.TStringList::Get(static_cast<int>(i)));
        AssignShort(line, v.data(), v.size());
      }
      list.SetSorted(false);
      return;
    }
    vek::ClearList(list);
    for (std::uint32_t i = 0; i < tag.params; ++i) {
      const std::string_view v = table->Text(params[i]);
      AssignShort(value, v.data(), v.size());
      vek::AddToList(list, value);
    }
  }

  // Writes the last tag's answer, if not yet written, into the page: before
  // anything after it, and before any handler runs (one may write into the
  // page through ExpandBody).
  void PutAnswer() {
    if (retText.empty()) return;
    sink.Put(retText);
    retText.clear();
  }

  // The pair step, after OnVekTag answered rsPairTag for the tag just before
  // pos; true when the expansion stops.
  bool PairStep() {
    AnsiString body;
    bool matched = true;  // false: the match is the table's to answer
    // With a table, the opener is its tag just passed.
    const TagTable* openerTable = table;
    try {
      // The name and the delimiters are read now: a re-entrant expansion in
      // OnVekTag may have changed them.
      CheckDelimiters();
      if (table == nullptr) {
        names.For(p.FTagName);
        NulFreeTo(t.size);  // the matcher and the table read ahead
        // A pair mostly closes after a few tags. When it does not, the tags
        // after the opener are recorded once and the loop goes on from them,
        // so that later pairs, closed or never closed, cost no scan of their own.
        PairEnd m;
        if (vek::FindPairEnd(t, pos, delimiters, names.open, names.close, m, kScanTags)) {
          body.assign(t.data + pos, m.bodyEnd - pos);
          pos = m.next;
        } else {
          matched = false;
          if (!own) own = std::move(p.FPrepared->spareTable);  // its buffers, if kept
          if (!own) own = std::make_unique<TagTable>();
          idsTable = nullptr;  // own may have been built before, for other delimiters
          own->Build(t, pos, delimiters);
          table = own.get();
          k = 0;
        }
      } else {
        matched = false;
      }
      if (!matched) {
        if (table == openerTable && k != 0 &&
            table->Text(table->Tags()[k - 1].name) == std::string_view(p.FTagName)) {
          // The opener is the tag just passed, under its own name: the ids
          // without a look-up.
          openId = table->Tags()[k - 1].id;
          closeId = table->CloserOf(openId);
          idsTable = nullptr;
        } else {
          names.For(p.FTagName);
          if (idsTable != table || idsNames != names.changes) {
            openId = table->IdOf(names.open);
            closeId = table->IdOf(names.close);
            idsTable = table;
            idsNames = names.changes;
          }
        }
        const std::size_t c = table->Match(k, openId, closeId);
        if (c != vek::npos) {
          const TagTable::Tag& closer = table->Tags()[c];
          body.assign(t.data + pos, closer.open - pos);
          pos = closer.next;
          k = c + 1;
        }
      }
    } catch (...) {
      // A failure while matching is an empty body; pos moved only on success.
      body.clear();
    }
    // An empty body fires nothing: without a match the loop goes on right
    // after the opening tag; with an empty pair it goes on after the closing tag.
    if (body.empty()) return false;

    AnsiString text;
    int state = rsContinue;
    if (p.FOnVekPairTag) p.FOnVekPairTag(&p, p.FTagName, &p.FTagParams, body, text, state);
    sink.Put(text);
    return state == rsStop;
  }

  // FindTag from pos over t up to its first NUL, where t then ends: the
  // searches stop at a NUL too, so that the text is checked for one in the
  // same pass (a delimiter's searched part holds none).
  ScanResult FindTagBeforeNul(TagHit& hit) {
    const vek::Delimiter &beg = delimiters.beg, &end = delimiters.end;
    if (beg.text.empty()) {
      NulFreeTo(t.size);
      return ScanResult::NoTag;
    }
    const std::size_t open = vek::FindBytesOrNul(t.data, t.size, pos, beg.needle);
    if (open == vek::npos) {
      known = t.size;
      return ScanResult::NoTag;
    }
    if (t.data[open] == '\0') {
      t.size = known = open;
      return ScanResult::NoTag;
    }
    hit.open = open;
    known = std::max(known, open + beg.text.size());
    if (end.text.empty()) return ScanResult::Unclosed;
    // A tag's text is short: searched plainly, then checked for a NUL a
    // little ahead, which serves the next tags of a dense text too.
    const std::size_t close = t.Find(end, open + beg.text.size());
    if (close == vek::npos) return ScanResult::Unclosed;  // nor one past a NUL
    hit.next = close + end.text.size();
    if (hit.next > known) NulFreeTo(hit.next);  // may find a NUL further on
    if (hit.next > t.size) return ScanResult::Unclosed;
    hit.textBeg = open + beg.text.size();
    hit.textEnd = close;
    return ScanResult::Tag;
  }

  // Tags a pair step scans for the closing tag before it records the rest.
  static constexpr std::size_t kScanTags = 64;
  // Bytes looked at for a NUL at a time past a tag's end: the next tags of a
  // dense text then need no call of their own, while the literal text after
  // a tag is mostly checked by the search for the next one.
  static constexpr std::size_t kNulAhead = 256;

  // Whether t's bytes up to End hold no NUL; when they do, t ends at the
  // first one.
  bool NulFreeTo(std::size_t End) {
    while (known < End) {
      const std::size_t to = std::min(t.size, std::max(End, known + kNulAhead));
      const void* nul = std::memchr(t.data + known, 0, to - known);
      if (nul != nullptr) {
        t.size = known = static_cast<std::size_t>(static_cast<const char*>(nul) - t.data);
        return false;
      }
      known = to;
    }
    return true;
  }

  TVekPageProducer& p;
  BoundedText t;  // its size shrinks to the first NUL once that is found
  OutputSink& sink;
  Delimiters delimiters;
  unsigned long long edits;
  std::size_t known;                // t's bytes before it hold no NUL
  const TagTable* table = nullptr;  // the loop runs from it when set
  std::unique_ptr<TagTable> own;    // built here after a failed match
  std::size_t k = 0;                // with a table: the index of the next tag
  std::size_t pos = 0;
  vek::UpperPairNames names;
  const TagTable* idsTable = nullptr;  // the table and names openId and closeId are for
  unsigned long long idsNames = 0;
  int openId = -1, closeId = -1;
  OutputSink* outerPage;  // the page of the expansion this one runs in, if any
  // Scratch that serves tag after tag, so that short names, parameters and
  // answers cost no allocation. RetText is "" on every entry all the same.
  AnsiString value, retText;
};

namespace {

bool NoDelimiter(const TVekPageProducer& p) {
  return p.VekTagBeg().empty() || p.VekTagEnd().empty();
}

// Expands a prepared text: from its table when it holds one for the present
// delimiters, by scanning otherwise.
void Expand(TVekPageProducer& p, const PreparedText& text, const Delimiters& d, OutputSink& sink) {
  const vek::Ref<const vek::SharedTable> table = text.TableFor(d);
  const BoundedText t = text.Visible();
  TVekLoop(p, t, t.size, d, sink).Run(table.get());
}

// Room for the template and an eighth more: answers a little longer than
// their tags then cost no reallocation, which would copy the whole output
// and, for large outputs, map fresh memory at every expansion.
void Reserve(AnsiString& out, std::size_t size) {
  out.reserve(size + size / 8);
}

// Expands Doc through expand(size of its visible bytes, body writing to a sink).
template <class Expander>
void RunText(TVekPageProducer& p, vek::PreparedTexts& cache, const AnsiString& Doc,
             Expander expand) {
  // The whole string: the loop finds the first NUL as it goes.
  const BoundedText t{Doc.data(), Doc.size()};
  const Delimiters d(p.VekTagBeg(), p.VekTagEnd());
  if (const vek::Ref<PreparedText> prepared = cache.Find(t, d)) {
    expand(t.size, [&](OutputSink& sink) { Expand(p, *prepared, d, sink); });
    return;
  }
  // Found nowhere: the loop reads Doc itself, which must then not be a field
  // the loop overwrites.
  if (IsTagField(p, Doc)) {
    const AnsiString copy(Doc);
    expand(t.size, [&](OutputSink& sink) {
      TVekLoop(p, BoundedText{copy.data(), t.size}, 0, d, sink).Run(nullptr);
    });
    return;
  }
  expand(t.size, [&](OutputSink& sink) { TVekLoop(p, t, 0, d, sink).Run(nullptr); });
}

// HTMLDoc's text, kept while the lines are unchanged, and prepared on its
// second expansion for the delimiters of then.
template <class Expander>
void RunDocText(TVekPageProducer& p, vek::PreparedTexts& cache, const TStringList& lines,
                Expander expand) {
  const vek::Ref<PreparedText> doc = cache.Doc(lines.ChangeCount(), [&] { return lines.Text(); });
  if (doc->size == 0) return;
  const Delimiters d(p.VekTagBeg(), p.VekTagEnd());
  if (doc->uses++ > 0) doc->PrepareFor(d);
  expand(doc->size, [&](OutputSink& sink) { Expand(p, *doc, d, sink); });
}

}  // namespace

namespace {

struct ToString {
  AnsiString& out;
  template <class Body>
  void operator()(std::size_t size, Body body) {
    Reserve(out, size);
    OutputSink sink(out);
    body(sink);
    sink.Finish();
  }
};

struct ToStream {
  TStream& stream;
  template <class Body>
  void operator()(std::size_t, Body body) {
    AnsiString buffer;
    OutputSink sink(buffer, stream);
    body(sink);
    sink.Finish();
  }
};

}  // namespace

AnsiString TVekExpansion::Run(TVekPageProducer& p, const AnsiString& Doc) {
  AnsiString out;
  if (NoDelimiter(p) || Doc.empty()) return out;
  RunText(p, *p.FPrepared, Doc, ToString{out});
  return out;
}

void TVekExpansion::Run(TVekPageProducer& p, const AnsiString& Doc, TStream& Out) {
  if (NoDelimiter(p) || Doc.empty()) return;
  RunText(p, *p.FPrepared, Doc, ToStream{Out});
}

AnsiString TVekExpansion::RunDoc(TVekPageProducer& p) {
  AnsiString out;
  if (NoDelimiter(p)) return out;
  RunDocText(p, *p.FPrepared, p.FHTMLDoc, ToString{out});
  return out;
}

void TVekExpansion::RunDoc(TVekPageProducer& p, TStream& Out) {
  if (NoDelimiter(p)) return;
  RunDocText(p, *p.FPrepared, p.FHTMLDoc, ToStream{Out});
}

std::shared_ptr<PreparedText> TVekExpansion::PrepareBody(TVekPageProducer& p,
                                                         const AnsiString& Body) {
  std::shared_ptr<PreparedText>& last = p.FPrepared->lastBody;
  if (last && last->text == Body) return last;
  auto text = std::make_shared<PreparedText>();
  text->text = Body;
  text->size = vek::VisibleSize(text->text);
  last = text;
  return text;
}

void TVekExpansion::ExpandBody(TVekPageProducer& p, PreparedText& Body) {
  OutputSink* page = p.FPrepared->page;
  if (page == nullptr)
    throw std::logic_error("ExpandBody: no expansion of this producer is running");
  if (NoDelimiter(p) || Body.size == 0) return;
  const Delimiters& d = p.FPrepared->DelimitersFor(p.FVekTagBeg, p.FVekTagEnd, p.FDelimiterEdits);
  // Built on the first expansion, and again only when the delimiters change;
  // without a table (building failed) the body is scanned.
  if (Body.tableStamp != p.FDelimiterEdits) {
    Body.tableStamp = Body.PrepareFor(d) ? p.FDelimiterEdits : 0;
  }
  const vek::Ref<const vek::SharedTable> table =
      Body.tableStamp != 0 ? Body.table : vek::Ref<const vek::SharedTable>();
  const OutputSink::Mark mark = page->Here();
  try {
    TVekLoop(p, Body.Visible(), Body.size, d, *page).Run(table.get());
  } catch (...) {
    page->Rewind(mark);
    throw;
  }
}
