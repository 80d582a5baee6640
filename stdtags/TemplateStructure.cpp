// The parser's walk over the nodes for nesting and the HTML context: every
// text advances the context tracker (HtmlContext.h), every value takes the
// escaping of where it stands, and the ways through a pair must end in the
// same context. Linear in the nodes and the text; nothing recurses.
#include "TemplateStructure.h"

#include "HtmlJoin.h"
#include "TemplateMacros.h"
#include "TextChecks.h"

namespace vekstd {

void TStructure::Run() {
  T.Escapes.clear();
  T.FirstAtDepth.clear();
  FState = T.StartState;
  const size_t end = FEnd < 0 ? T.Nodes.size() : static_cast<size_t>(FEnd);
  for (size_t i = static_cast<size_t>(FBegin); i < end; ++i) {
    TNode& n = T.Nodes[i];
    const bool outside = T.Extends >= 0 && FBlocks.empty() && static_cast<int>(i) > T.Extends;
    switch (n.Kind) {
      case TNodeKind::Text:
        Text(n, outside);
        break;
      case TNodeKind::Macro:
        // Walked where it is called, from the state there.
        if (n.Close > static_cast<int>(i)) i = static_cast<size_t>(n.Close);
        break;
      case TNodeKind::Value:
      case TNodeKind::Include:
      case TNodeKind::Call:
      case TNodeKind::Super:
        if (outside) {
          Warn(n.Begin, T.TagAt(n) +
                            " stands outside any block of a template that extends a layout: "
                            "it is never output");
        }
        if (n.Kind == TNodeKind::Value) {
          Value(n);
        } else if (n.Kind == TNodeKind::Include) {
          T.Includes[static_cast<size_t>(n.Include)].State = FState;
        } else if (n.Kind == TNodeKind::Call) {
          // What follows a call is read as after a value: its body must end
          // in a state that reads alike (BodyFault).
          T.Includes[static_cast<size_t>(n.Include)].State = FState;
          FState = AfterCall(FState);
        } else if (!FBlocks.empty()) {
          Super(n);
        }
        break;
      case TNodeKind::Block:
        Block(i);
        break;
      case TNodeKind::Each:
      case TNodeKind::If:
      case TNodeKind::Unless:
        Open(i);
        break;
      case TNodeKind::Elif:
      case TNodeKind::Else:
        Branch(n);
        break;
      case TNodeKind::Close:
        Close();
        break;
      default:
        break;
    }
  }
  T.EndState = FState;
}

void TStructure::Text(const TNode& N, bool Outside) {
  const char* base = T.Text.data();
  if (Outside) {
    for (int k = N.Begin; k < N.End; ++k) {
      if (!IsBlankByte(base[k])) {
        Warn(k, "text outside any block of a template that extends a layout is never output");
        break;
      }
    }
  }
  std::string problem;
  if (const char* at = HtmlFeed(FState, base + N.Begin, base + N.End, problem))
    Error(static_cast<int>(at - base), problem);
}

// A block outside any other, placed by a layout, begins where the layout's
// block of that name begins.
void TStructure::Block(size_t I) {
  const TNode& n = T.Nodes[I];
  const TNode* parent = nullptr;
  if (FParent && FBlocks.empty()) {
    const int at = FParent->FindBlock(n.Path);
    if (at >= 0) {
      parent = &FParent->Nodes[static_cast<size_t>(at)];
      FState = FParent->BlockOf(*parent).Begin;
    }
  }
  T.BlockStates[static_cast<size_t>(n.States)].Begin = FState;
  FBlocks.push_back({static_cast<int>(I), parent});
  Open(I);
}

// An elif or else: one way through the pair ends, the next begins where the
// pair began.
void TStructure::Branch(const TNode& N) {
  if (FLevels.empty()) return;
  TLevel& l = FLevels.back();
  Meet(l, FState);
  if (N.Kind == TNodeKind::Else) l.SawElse = true;
  FState = FKept[static_cast<size_t>(l.AtOpen)];
}

void TStructure::Close() {
  if (FLevels.empty()) return;
  TLevel& l = FLevels.back();
  const TNode& open = T.Nodes[static_cast<size_t>(l.Node)];
  // A loop's body and a condition without else may be passed over.
  if (open.Kind != TNodeKind::Block && (open.Kind == TNodeKind::Each || !l.SawElse))
    Meet(l, FKept[static_cast<size_t>(l.AtOpen)]);
  Meet(l, FState);
  if (l.End >= 0 && !l.Told) FState = FKept[static_cast<size_t>(l.End)];
  if (open.Kind == TNodeKind::Block) {
    T.BlockStates[static_cast<size_t>(open.States)].End = FState;
    const TNode* parent = FBlocks.back().Parent;
    const THtmlState& end = parent ? FParent->BlockOf(*parent).End : FState;
    if (!JoinsInto(end, FState)) {
      Error(open.Begin, T.TagAt(open) + " ends in " + FState.Describe() + " but in the layout in " +
                            end.Describe() +
                            ": what follows it there would be escaped for the wrong place");
    }
    FBlocks.pop_back();
  }
  FLevels.pop_back();
}

int TStructure::Keep(const THtmlState& S) {
  if (FKept.empty() || FKept.back() != S || FKept.back().EatsNewline != S.EatsNewline)
    FKept.push_back(S);
  return static_cast<int>(FKept.size() - 1);
}

// <#super#> stands for the layout's definition of the enclosing block: it
// must stand where that begins, and leaves the state where that ends.
void TStructure::Super(const TNode& N) {
  if (!FParent) return;
  const int def = FParent->FindBlock(T.Nodes[static_cast<size_t>(FBlocks.back().Node)].Path);
  if (def < 0) return;
  const TNode& p = FParent->Nodes[static_cast<size_t>(def)];
  const THtmlState& begin = FParent->BlockOf(p).Begin;
  if (!JoinsInto(begin, FState)) {
    Error(N.Begin, T.TagAt(N) + " stands in " + FState.Describe() +
                       " but the layout's block begins in " + begin.Describe());
  }
  FState = FParent->BlockOf(p).End;
}

void TStructure::Open(size_t I) {
  FLevels.push_back({static_cast<int>(I), Keep(FState), -1});
  if (FLevels.size() > T.FirstAtDepth.size()) T.FirstAtDepth.push_back(static_cast<int>(I));
}

// One way through a pair ends in State: all ways must end in states that
// join (JoinHtml), and L.End becomes their join.
void TStructure::Meet(TLevel& L, const THtmlState& State) {
  if (L.End < 0) {
    L.End = Keep(State);
    return;
  }
  const THtmlState& end = FKept[static_cast<size_t>(L.End)];
  if (L.Told || (State == end && State.EatsNewline == end.EatsNewline)) return;
  THtmlJoin join = JoinHtml(end, State);
  if (join.Joined) {
    L.End = Keep(join.State);
    return;
  }
  L.Told = true;
  const TNode& open = T.Nodes[static_cast<size_t>(L.Node)];
  Error(open.Begin, "the HTML context is " + join.Conflict + " through " + T.TagAt(open) +
                        ": values after it cannot be escaped for both");
}

void TStructure::Value(TNode& N) {
  std::string problem;
  TEscape e = HtmlValueAt(FState, problem);
  const TWrap wrap = e.Wrap;
  switch (N.Modifier) {
    case TModifier::None:
      if (!problem.empty()) Error(N.Begin, T.TagAt(N) + ": " + problem);
      Keep(N, std::move(e));
      return;
    case TModifier::Raw:
      e.Markup = false;
      e.Inner = TInner::None;
      e.Wrap = TWrap::None;
      if (e.RawIsRisky) {
        Warn(N.Begin, T.TagAt(N) + " stands in " + e.Where + ": a raw value there can run script");
      }
      break;
    case TModifier::Html:
      e.Inner = TInner::Html;
      e.Wrap = TWrap::None;
      break;
    case TModifier::Attr:
      e.Inner = TInner::None;
      e.Wrap = TWrap::Unquoted;
      break;
    case TModifier::Url:
      e.Inner = TInner::UrlComponent;
      break;
    case TModifier::Js:
      e.Inner = TInner::JsString;
      break;
    case TModifier::Css:
      e.Inner = TInner::Css;
      break;
    case TModifier::Json:
      e.Inner = TInner::JsValue;
      break;
  }
  e.Markup = false;
  if (N.Modifier != TModifier::Raw && N.Modifier != TModifier::Html &&
      N.Modifier != TModifier::Attr)
    e.Wrap = wrap;
  Keep(N, std::move(e));
}

// Values mostly share their escaping with the value before.
void TStructure::Keep(TNode& N, TEscape E) {
  if (T.Escapes.empty() || !(T.Escapes.back() == E)) T.Escapes.push_back(std::move(E));
  N.Escape = static_cast<int>(T.Escapes.size() - 1);
}

}  // namespace vekstd
