// The expansion loop: copies literal text, hands every tag to OnVekTag and
// every pair body to OnVekPairTag (see Expansion.h).
#include "Expansion.h"

#include <cstring>
#include <string_view>

#include "TagParser.h"

using vek::BoundedText;
using vek::Delimiters;
using vek::OutputSink;
using vek::PairEnd;
using vek::PairIndex;
using vek::ScanResult;
using vek::TagHit;
using vek::UpperPairNames;

AnsiString TVekExpansion::Run(TVekPageProducer& p, const AnsiString& Doc) {
  if (p.FVekTagBeg.empty() || p.FVekTagEnd.empty() || Doc.empty()) return AnsiString();

  // The loop overwrites the tag name and parameters at every tag; a template
  // that is one of them (a handler expanding its own parameter) is copied first.
  bool aliased = &Doc == &p.FTagName;
  for (int i = 0; i < p.FTagParams.Count() && !aliased; ++i) aliased = &Doc == &p.FTagParams[i];
  if (aliased) return Run(p, AnsiString(Doc));

  const char* data = Doc.data();
  const void* nul = std::memchr(data, 0, Doc.size());
  const BoundedText t{
      data, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : Doc.size()};
  AnsiString out;
  // Room for the template and an eighth more: answers a little longer than
  // their tags then cost no reallocation, which would copy the whole output
  // and, for large outputs, map fresh memory at every expansion.
  out.reserve(t.size + t.size / 8);
  OutputSink sink(out);
  std::optional<PairIndex> index;  // built when a pair finds no closing tag
  UpperPairNames pairNames;
  // The delimiters are read at every tag, since a handler may change them;
  // they are prepared again only when they did change.
  Delimiters delimiters(p.FVekTagBeg, p.FVekTagEnd);
  unsigned long long edits = p.FDelimiterEdits;
  // Scratch that serves tag after tag, so that short names, parameters and
  // answers cost no allocation. RetText is "" on every entry all the same.
  AnsiString value, retText;
  std::size_t pos = 0;
  while (pos < t.size) {
    if (p.FDelimiterEdits != edits) {
      delimiters = Delimiters(p.FVekTagBeg, p.FVekTagEnd);
      edits = p.FDelimiterEdits;
    }
    TagHit hit;
    const ScanResult r = vek::FindTag(t, pos, delimiters, hit);
    if (r != ScanResult::kTag) {  // the rest, up to an unclosed opening delimiter
      sink.Put(data + pos, (r == ScanResult::kNoTag ? t.size : hit.open) - pos);
      break;
    }
    sink.Put(data + pos, hit.open - pos);
    pos = hit.next;
    // The parser trims the tag's text itself.
    vek::ParseTag(std::string_view(data + hit.textBeg, hit.textEnd - hit.textBeg), p.FTagName,
                  &p.FTagParams, value);

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

bool TVekExpansion::PairStep(TVekPageProducer& p, const BoundedText& t, std::size_t& pos,
                             std::optional<PairIndex>& index, UpperPairNames& names,
                             OutputSink& out) {
  AnsiString body;
  try {
    // The name is read now: a re-entrant expansion in OnVekTag may have changed it.
    names.For(p.FTagName);
    const AnsiString& open = names.open;
    const AnsiString& close = names.close;
    const Delimiters d(p.FVekTagBeg, p.FVekTagEnd);
    PairEnd m;
    std::size_t k = 0;
    bool found;
    if (index && index->Covers(d, pos, k)) {
      found = index->Match(k, open, close, m);
    } else {
      found = vek::FindPairEnd(t, pos, d, open, close, m);
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
