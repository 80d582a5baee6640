// The renderer's calls: a macro's body walked in a frame of its own, escaped
// for the state its call stands in, with a scope of its parameters that
// hides the caller's names (the globals stay seen). Calls within calls are
// frames on the renderer's stack, bounded by MaxDepth and MaxSteps.
#include <string>

#include "Renderer.h"
#include "TemplateMacros.h"

void TVekStdTags::TRenderer::Call(const TNode& N) {
  const TFrame& from = Current();
  const TTemplate* home = from.Home ? from.Home : from.T;
  const vekstd::TIncludeAt& at = from.T->IncludeOf(N);
  if (at.Macro < 0) Fail("no macro " + N.Path + " is defined here");
  const vekstd::TMacro& m = home->Macros[static_cast<size_t>(at.Macro)];
  // The arguments, evaluated where the call stands; the rest take their
  // defaults or are missing.
  vekstd::TScope params;
  params.IsVars = true;
  params.Sealed = true;
  for (const auto& p : m.Params) {
    vekstd::TVar& v = params.Bind(p.Name);
    if (const auto hit = at.Args.find(p.Name); hit != at.Args.end()) {
      v.Own = *hit;
      continue;
    }
    bool given = false;
    for (const auto& e : at.Exprs) {
      if (e.first != p.Name) continue;
      v.Assign(Evaluate(e.second));
      given = true;
    }
    if (given) continue;
    if (p.HasDefault) {
      v.Own = p.Default;
    } else {
      v.Missing = true;
    }
  }
  std::shared_ptr<const TTemplate> body = vekstd::MacroBody(*home, at.Macro, at.State);
  if (!FOptions.Lenient) {
    const std::string fault = vekstd::BodyFault(*body, m.Name);
    if (!fault.empty()) Fail(from.T->TagAt(N) + ": " + fault);
  }
  TFrame frame;
  frame.T = body.get();
  frame.Template = std::move(body);
  frame.Pos = m.Node + 1;
  frame.Stop = home->Nodes[static_cast<size_t>(m.Node)].Close;
  frame.Path = from.Path;
  frame.Home = home;
  frame.CalledAt = N.Begin;
  frame.PushedScope = true;
  Push(std::move(frame));
  FScopes.Push(std::move(params));
}
