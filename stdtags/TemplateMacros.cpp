// Macros' bodies walked from the states they are called in, and the
// judgement of a template's calls to its own macros. The calls within a
// body are followed with an explicit stack, each macro once per state:
// linear in the macros and states reached, whatever calls what.
#include "TemplateMacros.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "HtmlContext.h"
#include "HtmlJoin.h"
#include "Suggest.h"
#include "TemplateStructure.h"

namespace vekstd {

std::shared_ptr<const TTemplate> MacroBody(const TTemplate& T, int Macro, const THtmlState& State) {
  auto same = [&](const TMacroBodies::TEntry& E) {
    return E.Macro == Macro && E.State == State && E.State.EatsNewline == State.EatsNewline;
  };
  std::unique_lock<std::mutex> lock;
  if (T.Bodies) {
    lock = std::unique_lock<std::mutex>(T.Bodies->Lock);
    for (const auto& e : T.Bodies->Entries) {
      if (same(e)) return e.Body;
    }
  }
  auto body = std::make_shared<TTemplate>(T);
  body->Bodies.reset();
  body->Placements.reset();
  body->Errors.clear();
  body->Warnings.clear();
  body->ErrorCount = body->WarningCount = 0;
  body->StartState = State;
  const TMacro& m = T.Macros[static_cast<size_t>(Macro)];
  TStructure(*body, nullptr, m.Node + 1, T.Nodes[static_cast<size_t>(m.Node)].Close).Run();
  std::stable_sort(body->Errors.begin(), body->Errors.end(),
                   [](const TFinding& A, const TFinding& B) { return A.Offset < B.Offset; });
  if (T.Bodies) T.Bodies->Entries.push_back({Macro, State, body});
  return body;
}

THtmlState AfterCall(const THtmlState& State) {
  THtmlState after = State;
  std::string problem;
  HtmlValueAt(after, problem);
  THtmlState other = after;
  switch (after.Mode) {
    case THtmlMode::BeforeAttrName:
    case THtmlMode::AfterAttrName:
      other.Mode = THtmlMode::AfterAttrValue;
      break;
    case THtmlMode::AfterAttrValue:
      other.Mode = THtmlMode::BeforeAttrName;
      break;
    default:
      if (after.Js.Mode != TJsMode::Expr || after.Js.Slash == TJsSlash::Unknown) return after;
      other.Js.Slash = after.Js.Slash == TJsSlash::Regexp ? TJsSlash::DivOp : TJsSlash::Regexp;
      break;
  }
  const THtmlJoin join = JoinHtml(after, other);
  return join.Joined ? join.State : after;
}

std::string BodyFault(const TTemplate& Body, const std::string& Name) {
  const std::string where = Body.StartState.Describe();
  if (!Body.Errors.empty()) {
    const TFinding& e = Body.Errors.front();
    return "the body of " + Name + " cannot stand in " + where + ": " + Body.Where(e.Offset) +
           ": " + e.Message;
  }
  if (!JoinsInto(AfterCall(Body.StartState), Body.EndState)) {
    return "the body of " + Name + ", called in " + where + ", ends in " +
           Body.EndState.Describe() +
           ": what follows the call would be escaped for the wrong place";
  }
  return "";
}

namespace {

// The names of the macros, and of a macro's parameters, for suggestions.
std::vector<std::string> MacroNames(const TTemplate& T) {
  std::vector<std::string> names;
  for (const auto& m : T.Macros) names.push_back(m.Name);
  return names;
}

// Every call's macro, and the arguments it takes.
void JudgeNames(TTemplate& T) {
  std::unordered_map<std::string, int> byName;
  for (size_t i = 0; i < T.Macros.size(); ++i)
    byName.emplace(T.Macros[i].Name, static_cast<int>(i));
  for (const TNode& n : T.Nodes) {
    if (n.Kind != TNodeKind::Call) continue;
    TIncludeAt& at = T.Includes[static_cast<size_t>(n.Include)];
    const auto hit = byName.find(n.Path);
    if (hit == byName.end()) {
      if (T.Imports.empty()) {
        T.AddError(n.Begin, T.TagAt(n) + ": no macro " + n.Path + " is defined here" +
                                DidYouMean(n.Path, MacroNames(T), "\"", "\"") + " nor imported");
      }
      continue;
    }
    at.Macro = hit->second;
    const std::string fault = ArgumentFault(T.Macros[static_cast<size_t>(at.Macro)], at);
    if (!fault.empty()) T.AddError(n.Begin, T.TagAt(n) + ": " + fault);
  }
}

}  // namespace

std::string ArgumentFault(const TMacro& M, const TIncludeAt& At) {
  std::vector<std::string> params;
  for (const auto& p : M.Params) params.push_back(p.Name);
  auto judge = [&](const std::string& Arg) -> std::string {
    if (std::find(params.begin(), params.end(), Arg) != params.end()) return "";
    return "the macro " + M.Name + " has no parameter " + Arg + DidYouMean(Arg, params, "\"", "\"");
  };
  for (const auto& a : At.Args.items()) {
    if (std::string f = judge(a.key()); !f.empty()) return f;
  }
  for (const auto& e : At.Exprs) {
    if (std::string f = judge(e.first); !f.empty()) return f;
  }
  return "";
}

std::string TCallJudge::Judge(int Module, const TTemplate& In, const TNode& Call) {
  struct TStep {
    TKey Key;
    std::shared_ptr<const TTemplate> Body;
    int Module;
    size_t Next, Stop;
    std::string Fault;
    bool Always;        // called on every way through the body that calls it
    std::string Place;  // of the call within the body that calls it
    int Pairs = 0;      // the conditions and loops open at Next within the body
  };
  std::vector<TStep> stack;
  std::map<TKey, size_t> open;  // the steps on the stack
  // Walks the macro a call finds from the state the call stands in, unless
  // judged (its fault is then known); a macro that calls itself on every way
  // through never ends.
  auto enter = [&](int From, const TTemplate& At, const TNode& N, bool Always) -> std::string {
    std::string fault;
    const TMacroRef ref = FFind(From, At, N, fault);
    if (!fault.empty() || !ref.Home) return fault;
    const TIncludeAt& at = At.IncludeOf(N);
    TKey key{ref.Module, ref.Macro, at.State.Key()};
    if (const auto o = open.find(key); o != open.end()) {
      bool always = Always;
      for (size_t k = o->second + 1; k < stack.size(); ++k) always = always && stack[k].Always;
      if (!always) return "";
      return At.TagAt(N) + " calls " + N.Path +
             " again on every way through its body: the calls would never end";
    }
    if (const auto seen = FJudged.find(key); seen != FJudged.end()) return seen->second;
    auto body = MacroBody(*ref.Home, ref.Macro, at.State);
    const TMacro& m = ref.Home->Macros[static_cast<size_t>(ref.Macro)];
    const size_t begin = static_cast<size_t>(m.Node) + 1;
    const size_t stop = static_cast<size_t>(ref.Home->Nodes[static_cast<size_t>(m.Node)].Close);
    std::string own = BodyFault(*body, m.Name);
    open[key] = stack.size();
    stack.push_back(
        {key, std::move(body), ref.Module, begin, stop, std::move(own), Always, At.Where(N.Begin)});
    return "";
  };
  std::string fault = enter(Module, In, Call, true);
  while (!stack.empty()) {
    TStep& s = stack.back();
    if (s.Fault.empty() && s.Next < s.Stop) {
      const TNode& n = s.Body->Nodes[s.Next++];
      if (n.Kind == TNodeKind::Each || n.Kind == TNodeKind::If || n.Kind == TNodeKind::Unless) {
        ++s.Pairs;
      } else if (n.Kind == TNodeKind::Close) {
        --s.Pairs;
      } else if (n.Kind == TNodeKind::Call) {
        const std::shared_ptr<const TTemplate> in = s.Body;  // s may move
        std::string f = enter(s.Module, *in, n, s.Pairs == 0);
        if (!f.empty()) stack.back().Fault = in->Where(n.Begin) + ": " + std::move(f);
      }
      continue;
    }
    std::string done = std::move(s.Fault);
    const std::string place = std::move(s.Place);
    FJudged[s.Key] = done;
    open.erase(s.Key);
    stack.pop_back();
    if (stack.empty()) {
      fault = std::move(done);
    } else if (stack.back().Fault.empty() && !done.empty()) {
      stack.back().Fault = place + ": " + done;
    }
  }
  return fault;
}

void JudgeCalls(TTemplate& T, bool Names) {
  if (Names) JudgeNames(T);
  if (T.Macros.empty()) return;
  // Only the macros T defines: those it imports are judged with the files
  // that define them (TResolver::ImportFault).
  TCallJudge judge([&T](int, const TTemplate& In, const TNode& N, std::string&) {
    const int macro = In.IncludeOf(N).Macro;
    return macro < 0 ? TMacroRef{} : TMacroRef{&T, macro, 0};
  });
  for (size_t i = 0; i < T.Nodes.size(); ++i) {
    const TNode& call = T.Nodes[i];
    if (call.Kind == TNodeKind::Macro && call.Close > static_cast<int>(i)) {
      i = static_cast<size_t>(call.Close);
      continue;
    }
    if (call.Kind != TNodeKind::Call || T.IncludeOf(call).Macro < 0) continue;
    const std::string fault = judge.Judge(0, T, call);
    if (!fault.empty()) T.AddError(call.Begin, T.TagAt(call) + ": " + fault);
  }
}

}  // namespace vekstd
