// The renderer's includes and layouts: an included template walked in a
// frame of its own (found, loaded and judged by the resolver), and a page
// that extends layouts walked from the outermost layout, each block taken
// from the nearest template of the chain that defines it, super from the
// next one out.
#include <string>
#include <vector>

#include "Renderer.h"

// The layouts T extends, outermost last, each template's blocks placed
// where its layout puts them; a refusal of any stops the render.
const TVekStdTags::TRenderer::TChain& TVekStdTags::TRenderer::Layouts(
    std::shared_ptr<const TTemplate> T, const std::filesystem::path& Path) {
  vekstd::TLayoutChain c = FResolver.Layouts(std::move(T), Path);
  if (c.Fault) {
    if (FFrames.empty()) throw c.Fault.Error();
    Fail("include: " + std::string(c.Fault.Error().what()));
  }
  if (const vekstd::TRefusal refused = FResolver.Refusal(c.Templates.front())) {
    if (FFrames.empty()) throw refused.Error();
    Fail("include: " + std::string(refused.Error().what()));
  }
  FChains.push_back({std::move(c.Templates), std::move(c.Paths)});
  return FChains.back();
}

// The templates being expanded, outermost first: an include's template and
// the layouts it extends, so that a layout including its page is a cycle.
std::vector<vekstd::TOpenTemplate> TVekStdTags::TRenderer::OpenTemplates() const {
  std::vector<vekstd::TOpenTemplate> open;
  for (const TFrame& fr : FFrames) {
    if (!fr.OwnsTemplate) continue;
    if (fr.Chain && fr.Level >= 0) {
      for (size_t i = 0; i < fr.Chain->Templates.size(); ++i)
        open.push_back({fr.Chain->Templates[i]->Name, fr.Chain->Paths[i]});
    } else {
      open.push_back({fr.T->Name, *fr.Path});
    }
  }
  return open;
}

// A block of a layout: its definition in the nearest template that has one.
void TVekStdTags::TRenderer::Block(const TNode& N) {
  TFrame& f = FFrames.back();
  const int self = static_cast<int>(&N - f.T->Nodes.data());
  f.Pos = N.Close + 1;
  if (f.Level < 0) {
    if (self + 1 < N.Close) Push(Body(self + 1, N.Close));
    return;
  }
  for (int level = 0; level <= f.Level; ++level) {
    const int def = f.Chain->Templates[static_cast<size_t>(level)]->FindBlock(N.Path);
    if (def >= 0) {
      Definition(level, def);
      return;
    }
  }
}

// <#super#>: the definition of the enclosing block in the next layout out.
void TVekStdTags::TRenderer::Super() {
  const TFrame& f = Current();
  if (f.Block < 0) return;
  const auto& chain = f.Chain->Templates;
  const TTemplate& t = *chain[static_cast<size_t>(f.BlockLevel)];
  const AnsiString name = t.Nodes[static_cast<size_t>(f.Block)].Path;
  for (size_t level = static_cast<size_t>(f.BlockLevel) + 1; level < chain.size(); ++level) {
    const int def = chain[level]->FindBlock(name);
    if (def >= 0) {
      Definition(static_cast<int>(level), def);
      return;
    }
  }
}

void TVekStdTags::TRenderer::Definition(int Level, int Def) {
  const TChain* chain = Current().Chain;
  const TTemplate* t = chain->Templates[static_cast<size_t>(Level)].get();
  for (const TFrame& fr : FFrames) {
    if (fr.T == t && fr.Block == Def && fr.BlockLevel == Level && fr.Chain == chain)
      Fail("the block \"" + t->Nodes[static_cast<size_t>(Def)].Path +
           "\" would hold itself (through super and the blocks within it)");
  }
  const TNode& d = t->Nodes[static_cast<size_t>(Def)];
  TFrame frame;
  frame.T = t;
  frame.Pos = Def + 1;
  frame.Stop = d.Close;
  frame.Path = &chain->Paths[static_cast<size_t>(Level)];
  frame.Chain = chain;
  frame.Level = Level;
  frame.Block = Def;
  frame.BlockLevel = Level;
  Push(std::move(frame));
}

void TVekStdTags::TRenderer::Include(const TNode& N) {
  if (N.Path.empty()) Fail(FOptions.TagBeg + "include" + FOptions.TagEnd + " without file=\"...\"");
  if (++FIncludes > FOptions.MaxIncludes) {
    Fail("more than " + std::to_string(FOptions.MaxIncludes) + " includes in one page" +
             vekstd::TheLimit("MaxIncludes"),
         "MaxIncludes");
  }
  TFrame& from = FFrames.back();
  // The parameters, evaluated where the include stands.
  const vekstd::TIncludeAt& at = from.T->IncludeOf(N);
  vekstd::TScope params;
  params.IsVars = true;
  for (const auto& a : at.Args.get_ref<const json::object_t&>())
    params.Bind(a.first).Own = a.second;
  for (const auto& e : at.Exprs) params.Bind(e.first).Assign(Evaluate(e.second));
  vekstd::TResolved r = FResolver.Resolve(*from.T, N, OpenTemplates());
  if (!r.Fault.empty()) Fail(r.Fault);
  TFrame frame;
  frame.Pos = 0;
  frame.OwnsTemplate = true;
  frame.IncludedAt = N.Begin;
  if (r.Template->Extends >= 0) {
    // A template that extends a layout is its outermost layout, walked with
    // the blocks of the chain.
    const TChain& c = Layouts(r.Template, r.File.Path);
    frame.Template = c.Templates.back();
    frame.Path = &c.Paths.back();
    frame.Level = static_cast<int>(c.Templates.size() - 1);
    frame.Chain = &c;
    if (!FOptions.Lenient && frame.Template->EndState != frame.Template->StartState) {
      Fail("include: " + frame.Template->Name + " begins in " +
           frame.Template->StartState.Describe() + " and ends in " +
           frame.Template->EndState.Describe() +
           ": what follows it would be escaped for the wrong place");
    }
  } else {
    frame.Template = std::move(r.Template);
    frame.OwnPath = std::make_shared<const std::filesystem::path>(r.File.Path);
    frame.Path = frame.OwnPath.get();
  }
  frame.T = frame.Template.get();
  frame.Stop = static_cast<int>(frame.T->Nodes.size());
  const bool args = !params.Vars.empty();
  frame.PushedScope = args;
  Push(std::move(frame));
  if (args) FScopes.Push(std::move(params));
}
