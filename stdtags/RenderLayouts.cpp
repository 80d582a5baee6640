// The renderer's includes and layouts: an included template walked in a
// frame of its own (found, loaded and judged by the resolver), and a page
// that extends layouts walked from the outermost layout, each block taken
// from the nearest template of the chain that defines it, super from the
// next one out.
#include <string>
#include <vector>

#include "Renderer.h"

// The layouts the page extends, outermost last, each template's blocks
// placed where its layout puts them; a refusal of any stops the render.
void TVekStdTags::TRenderer::Layouts() {
  vekstd::TLayoutChain c = FResolver.Layouts(FChain.front(), FChainPaths.front());
  if (c.Fault) throw c.Fault.Error();
  if (const vekstd::TRefusal refused = FResolver.Refusal(c.Templates.front()))
    throw refused.Error();
  FChain = std::move(c.Templates);
  FChainPaths = std::move(c.Paths);
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
    const int def = FChain[static_cast<size_t>(level)]->FindBlock(N.Path);
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
  const TTemplate& t = *FChain[static_cast<size_t>(f.BlockLevel)];
  const AnsiString name = t.Nodes[static_cast<size_t>(f.Block)].Path;
  for (size_t level = static_cast<size_t>(f.BlockLevel) + 1; level < FChain.size(); ++level) {
    const int def = FChain[level]->FindBlock(name);
    if (def >= 0) {
      Definition(static_cast<int>(level), def);
      return;
    }
  }
}

void TVekStdTags::TRenderer::Definition(int Level, int Def) {
  const TTemplate* t = FChain[static_cast<size_t>(Level)].get();
  for (const TFrame& fr : FFrames) {
    if (fr.T == t && fr.Block == Def && fr.BlockLevel == Level)
      Fail("the block \"" + t->Nodes[static_cast<size_t>(Def)].Path +
           "\" would hold itself (through super and the blocks within it)");
  }
  const TNode& d = t->Nodes[static_cast<size_t>(Def)];
  TFrame frame;
  frame.T = t;
  frame.Pos = Def + 1;
  frame.Stop = d.Close;
  frame.Path = &FChainPaths[static_cast<size_t>(Level)];
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
  // The templates being expanded, outermost first.
  std::vector<vekstd::TOpenTemplate> open;
  for (const TFrame& fr : FFrames) {
    if (fr.OwnsTemplate) open.push_back({fr.T->Name, *fr.Path});
  }
  const TFrame& from = Current();
  vekstd::TResolved r = FResolver.Resolve(*from.T, N, open);
  if (!r.Fault.empty()) Fail(r.Fault);
  TFrame frame;
  frame.T = r.Template.get();
  frame.Template = std::move(r.Template);
  frame.Pos = 0;
  frame.Stop = static_cast<int>(frame.T->Nodes.size());
  frame.OwnsTemplate = true;
  frame.IncludedAt = N.Begin;
  frame.OwnPath = std::make_shared<const std::filesystem::path>(r.File.Path);
  frame.Path = frame.OwnPath.get();
  const json& argsValue = from.T->IncludeOf(N).Args;
  const bool args = !argsValue.empty();
  frame.PushedScope = args;
  Push(std::move(frame));
  if (args) FScopes.Push({&argsValue, -1, 0, nullptr, json()});
}
