// The renderer's loops and conditions: each over a list, an object's
// members or a range, one frame per loop whose body is walked again for
// every element; if, elif, else and unless choosing one branch to walk;
// expressions evaluated, and set.
#include <cstdint>
#include <string>

#include "Renderer.h"
#include "VekExtensions.h"

using vekstd::TNodeKind;

namespace {

// The most numbers one range may hold.
const long long kMaxRange = 1000000;

bool WholeNumber(const TVekData* V, long long& Out) {
  if (!V) return false;
  if (V->is_number_integer() && !V->is_number_unsigned()) {
    Out = V->get<long long>();
    return true;
  }
  if (V->is_number_unsigned() && V->get<unsigned long long>() <= 0x7FFFFFFFFFFFFFFFull) {
    Out = static_cast<long long>(V->get<unsigned long long>());
    return true;
  }
  return false;
}

}  // namespace

// The end of an each's body: on to the next element, if any.
bool TVekStdTags::TRenderer::NextRound(TFrame& F) {
  vekstd::TScope& s = FScopes.Innermost(F.VarScope ? 1 : 0);
  if (F.Loop == TLoop::Elements) {
    if (++F.It == F.ItEnd) return false;
    s.Value = &*F.It;
    s.Key = F.Object ? &F.It.key() : nullptr;
  } else if (F.Loop == TLoop::Range) {
    if (F.Next >= F.Last) return false;  // never past the last: no overflow
    s.Own = ++F.Next;
  } else {
    return false;
  }
  ++s.Index;
  F.Pos = F.BodyBegin;
  return true;
}

// The bounds of a range, by their literals or names.
long long TVekStdTags::TRenderer::Bound(const vekstd::TCondOp& Op) {
  json scratch;
  const json* v =
      Op.Kind == vekstd::TCondOp::TKind::Literal ? &Op.Literal : Require(Op.Path, scratch);
  long long out = 0;
  if (!WholeNumber(v, out)) {
    Fail("a range's end \"" + (Op.Kind == vekstd::TCondOp::TKind::Path ? Op.Path : v->dump()) +
         "\" is not a whole number");
  }
  return out;
}

void TVekStdTags::TRenderer::Each(const TNode& N) {
  TFrame& f = FFrames.back();
  const int body = f.Pos, close = N.Close;
  const int stop = N.Else >= 0 ? N.Else : close;
  f.Pos = close + 1;
  TFrame frame = Body(body, stop);
  frame.BodyBegin = body;
  frame.PushedScope = true;
  vekstd::TScope scope;
  scope.Index = 0;
  const vekstd::TDetails& d = Current().T->DetailsOf(N);
  if (!d.LoopName.empty()) scope.Name = &d.LoopName;
  if (!d.Range.empty()) {
    const long long from = Bound(d.Range[0]), last = Bound(d.Range[1]);
    if (last >= from) {
      if (static_cast<long double>(last) - static_cast<long double>(from) >= kMaxRange)
        Fail("a range of more than " + std::to_string(kMaxRange) + " numbers");
      frame.Loop = TLoop::Range;
      frame.Next = from;
      frame.Last = last;
      scope.Count = last - from + 1;
      scope.Own = from;
    }
  } else {
    json scratch;
    const json* list = Require(N.Path, scratch);
    if (list && !list->is_null() && !list->is_array() && !list->is_object() && FOptions.Strict)
      Fail("\"" + N.Path + "\" is neither a list nor an object");
    if (list && (list->is_array() || list->is_object()) && !list->empty()) {
      frame.Loop = TLoop::Elements;
      frame.It = list->cbegin();
      frame.ItEnd = list->cend();
      scope.Value = &*frame.It;
      frame.Object = list->is_object();
      scope.Key = frame.Object ? &frame.It.key() : nullptr;
      scope.Count = static_cast<long long>(list->size());
    }
  }
  if (frame.Loop == TLoop::None) {
    if (N.Else >= 0 && N.Else + 1 < close) Push(Body(N.Else + 1, close));
    return;
  }
  if (body == stop) return;
  Push(std::move(frame));
  FScopes.Push(std::move(scope));
  vekstd::TScope& pushed = FScopes.Innermost();
  if (!pushed.Value) pushed.Value = &pushed.Own;
}

bool TVekStdTags::TRenderer::Holds(const TNode& N) {
  const auto& cond = Current().T->DetailsOf(N).Cond;
  if (cond.empty()) return false;  // a faulty condition, rendered leniently
  return vekstd::Truthy(Evaluate(cond));
}

const TVekData* TVekStdTags::TRenderer::Evaluate(const std::vector<vekstd::TCondOp>& Expr) {
  // Each @name looked up gets its own scratch value; reserved so that none
  // moves while the expression is evaluated.
  FCondScratch.clear();
  if (FCondScratch.capacity() < Expr.size()) FCondScratch.reserve(Expr.size());
  return vekstd::EvalExpr(Expr, FHooks, FCondStack, FCondResults);
}

const TVekData* TVekStdTags::TRenderer::THooks::Lookup(const vekstd::TCondOp& Op) {
  const std::string& path = Op.Path;
  if (!path.empty() && path[0] == '@') {
    // Only a loop position is made in its scratch value (a whole number
    // straight from its loop).
    R.FCondScratch.emplace_back();
    long long position = 0;
    if (R.FScopes.WholePosition(path, position)) {
      R.FCondScratch.back() = position;
      return &R.FCondScratch.back();
    }
    return R.Require(path, R.FCondScratch.back());
  }
  uint32_t& hint = R.FOpHints[reinterpret_cast<uintptr_t>(&Op) / sizeof(Op) % kOpHints];
  if (const json* v = R.FScopes.HintedMember(path, hint)) return v;
  return R.Require(path, R.FNoScratch, &hint);
}

void TVekStdTags::TRenderer::THooks::Mixed(const std::string& What) {
  if (R.FOptions.Strict) Fault(What);
}

void TVekStdTags::TRenderer::THooks::Fault(const std::string& What) {
  R.Fail(R.Current().T->TagAt(*R.FAt) + ": " + What);
}

void TVekStdTags::TRenderer::THooks::Call(const std::string& Name, const json* const* Args,
                                          size_t Count, json& Out) {
  const TVekExtensions* ext = R.FOptions.Extensions.get();
  const TVekFunction* f = ext ? ext->Function(Name) : nullptr;
  if (!f) {
    Fault("no function \"" + Name + "\" is registered");
    return;
  }
  try {
    Out = (*f)(TVekArgs(Args, Count));
  } catch (const std::exception& e) {
    Fault("function \"" + Name + "\": " + e.what());
  }
}

void TVekStdTags::TRenderer::Condition(const TNode& N) {
  const TTemplate& t = *Current().T;
  TFrame& f = FFrames.back();
  const int close = N.Close;
  f.Pos = close + 1;
  const TNode* branch = &N;
  int begin = static_cast<int>(&N - t.Nodes.data()) + 1;
  for (;;) {
    FAt = branch;
    bool yes = true;
    if (branch->Kind == TNodeKind::If || branch->Kind == TNodeKind::Elif) {
      yes = Holds(*branch);
    } else if (branch->Kind == TNodeKind::Unless) {
      yes = !Holds(*branch);
    }
    if (yes) break;
    if (branch->Else < 0) return;
    begin = branch->Else + 1;
    branch = &t.Nodes[static_cast<size_t>(branch->Else)];
  }
  const int stop = branch->Else >= 0 ? branch->Else : close;
  if (begin < stop) Push(Body(begin, stop));
}

// set NAME = VALUE: bound in the scope of the names of the current frame,
// made at its first set.
void TVekStdTags::TRenderer::Set(const TNode& N) {
  const vekstd::TDetails& d = Current().T->DetailsOf(N);
  if (d.Cond.empty()) return;  // a faulty set, rendered leniently
  const json* v = Evaluate(d.Cond);
  TFrame& f = FFrames.back();
  if (!f.VarScope) {
    vekstd::TScope s;
    s.IsVars = true;
    FScopes.Push(std::move(s));
    f.VarScope = true;
  }
  FScopes.Innermost().Bind(d.LoopName).Assign(v);
}
