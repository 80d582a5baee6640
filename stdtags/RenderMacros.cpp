// The renderer's calls: a macro's body (its template's own, or one the
// template imports) walked in a frame of its own, escaped
// for the state its call stands in, with a scope of its parameters that
// hides the caller's names (the globals stay seen). Calls within calls are
// frames on the renderer's stack, bounded by MaxDepth and MaxSteps.
#include <string>

#include "Renderer.h"
#include "TemplateMacros.h"

// The shared template T is, held by a frame, a layout chain or the imports
// found so far.
std::shared_ptr<const vekstd::TTemplate> TVekStdTags::TRenderer::Hold(const TTemplate* T) const {
  for (auto it = FFrames.rbegin(); it != FFrames.rend(); ++it) {
    if (it->Template.get() == T) return it->Template;
  }
  for (const auto& c : FChains) {
    for (const auto& t : c.Templates) {
      if (t.get() == T) return t;
    }
  }
  for (const auto& i : FImported) {
    for (const auto& t : i.second.Templates) {
      if (t.get() == T) return t;
    }
  }
  return nullptr;
}

const vekstd::TImported& TVekStdTags::TRenderer::ImportsOf(const TTemplate* Home) {
  for (const auto& i : FImported) {
    if (i.first == Home) return i.second;
  }
  std::shared_ptr<const TTemplate> held = Hold(Home);
  if (!held) Fail("the template of this call is no longer held");  // not reached
  FImported.emplace_back(Home, FResolver.Imports(held));
  return FImported.back().second;
}

void TVekStdTags::TRenderer::Call(const TNode& N) {
  const TFrame& from = Current();
  const TTemplate* home = from.Home ? from.Home : from.T;
  const vekstd::TIncludeAt& at = from.T->IncludeOf(N);
  int macro = at.Macro;
  if (macro < 0) {
    // Through the imports: the first file that defines it.
    const vekstd::TImported& imported = ImportsOf(home);
    if (imported.Fault) Fail(imported.Fault.Error().what());
    const auto found = imported.Find(0, N.Path);
    if (found.first < 0) Fail("no macro " + N.Path + " is defined here nor imported");
    home = imported.Templates[static_cast<size_t>(found.first)].get();
    macro = found.second;
    const std::string args = vekstd::ArgumentFault(home->Macros[static_cast<size_t>(macro)], at);
    if (!args.empty()) Fail(from.T->TagAt(N) + ": " + args);
  }
  const vekstd::TMacro& m = home->Macros[static_cast<size_t>(macro)];
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
  std::shared_ptr<const TTemplate> body = vekstd::MacroBody(*home, macro, at.State);
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
