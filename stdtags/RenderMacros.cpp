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

// The macro a call finds and its body for the call's state, judged: found
// once per call tag and render.
const TVekStdTags::TRenderer::TCallSite& TVekStdTags::TRenderer::CallSite(
    const TNode& N, const vekstd::TIncludeAt& At, const TTemplate* From) {
  if (const auto hit = FCallSites.find(&At); hit != FCallSites.end() && hit->second.From == From)
    return hit->second;
  const TTemplate& in = *Current().T;
  const TTemplate* home = From;
  int macro = At.Macro;
  if (macro < 0) {
    // Through the imports: the first file that defines it.
    const vekstd::TImported& imported = ImportsOf(home);
    if (imported.Fault) Fail(imported.Fault.Error().what());
    const auto found = imported.Find(0, N.Path);
    if (found.first < 0) Fail("no macro " + N.Path + " is defined here nor imported");
    home = imported.Templates[static_cast<size_t>(found.first)].get();
    macro = found.second;
    const std::string args = vekstd::ArgumentFault(home->Macros[static_cast<size_t>(macro)], At);
    if (!args.empty()) Fail(in.TagAt(N) + ": " + args);
  }
  const vekstd::TMacro& m = home->Macros[static_cast<size_t>(macro)];
  std::shared_ptr<const TTemplate> body = vekstd::MacroBody(*home, macro, At.State);
  if (!FOptions.Lenient) {
    const std::string fault = vekstd::BodyFault(*body, m.Name);
    if (!fault.empty()) Fail(in.TagAt(N) + ": " + fault);
  }
  TCallSite site{Hold(&in), From, home, macro, std::move(body)};
  // Kept only while the template the call stands in is held by the site
  // itself: no other template can then take its place in memory.
  if (!site.Keep) {
    FUnkeptSite = std::move(site);
    return FUnkeptSite;
  }
  TCallSite& kept = FCallSites[&At];
  kept = std::move(site);
  return kept;
}

void TVekStdTags::TRenderer::Call(const TNode& N) {
  const TFrame& from = Current();
  const vekstd::TIncludeAt& at = from.T->IncludeOf(N);
  const TCallSite& site = CallSite(N, at, from.Home ? from.Home : from.T);
  const vekstd::TMacro& m = site.Home->Macros[static_cast<size_t>(site.Macro)];
  // The arguments, evaluated where the call stands; the rest take their
  // defaults or are missing. Bound in a scope whose room is reused.
  vekstd::TScope& params = FParams;
  params.ClearVars();
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
  TFrame frame;
  frame.T = site.Body.get();
  frame.Template = site.Body;
  frame.Pos = m.Node + 1;
  frame.Stop = site.Home->Nodes[static_cast<size_t>(m.Node)].Close;
  frame.Path = from.Path;
  frame.Home = site.Home;
  frame.CalledAt = N.Begin;
  frame.PushedScope = true;
  Push(std::move(frame));
  FScopes.Push(std::move(params));
}
