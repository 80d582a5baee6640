// The parser's pass over whitespace: lines that hold only block tags vanish,
// and <#- and -#> drop the blanks beside their tag. Both walk the nodes once.
#include "TemplateLines.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "TextChecks.h"

namespace vekstd {

// Lines that hold only standalone tags and blanks vanish, line break and
// all. One walk over the nodes; the removed stretches are then cut from
// the text nodes at their edges.
void StripLines(TTemplate& T) {
  std::vector<std::pair<int, int>> cuts;
  int lineStart = 0;
  bool ok = true, sawTag = false;
  const char* base = T.Text.data();
  for (const TNode& n : T.Nodes) {
    if (n.Kind != TNodeKind::Text) {
      if (n.Standalone) {
        sawTag = true;
      } else {
        ok = false;
      }
      continue;
    }
    for (int p = n.Begin; p < n.End; ++p) {
      if (base[p] == '\n') {
        if (ok && sawTag) cuts.push_back({lineStart, p + 1});
        lineStart = p + 1;
        ok = true;
        sawTag = false;
      } else if (!IsBlankByte(base[p])) {
        ok = false;
      }
    }
  }
  if (ok && sawTag && !T.Nodes.empty()) cuts.push_back({lineStart, T.Nodes.back().End});
  size_t c = 0;
  for (TNode& n : T.Nodes) {
    if (n.Kind != TNodeKind::Text) continue;
    while (c < cuts.size() && cuts[c].second <= n.Begin) ++c;
    for (size_t k = c; k < cuts.size() && cuts[k].first < n.End; ++k) {
      if (cuts[k].first <= n.Begin) n.Begin = std::min(n.End, cuts[k].second);
      if (cuts[k].second >= n.End) n.End = std::max(n.Begin, cuts[k].first);
    }
  }
}

// <#- drops the blanks before a tag, -#> those after it, line breaks too.
void ApplyTrims(TTemplate& T) {
  const char* base = T.Text.data();
  for (size_t i = 0; i < T.Nodes.size(); ++i) {
    const TNode& tag = T.Nodes[i];
    if (tag.TrimBefore && i > 0 && T.Nodes[i - 1].Kind == TNodeKind::Text) {
      TNode& t = T.Nodes[i - 1];
      while (t.End > t.Begin && IsBlankByte(base[t.End - 1])) --t.End;
    }
    if (tag.TrimAfter && i + 1 < T.Nodes.size() && T.Nodes[i + 1].Kind == TNodeKind::Text) {
      TNode& t = T.Nodes[i + 1];
      while (t.Begin < t.End && IsBlankByte(base[t.Begin])) ++t.Begin;
    }
  }
}

}  // namespace vekstd
