// The renderer: one walk over a parsed template with an explicit stack of
// frames (a pair's body, one element of an each, a block, an included
// template), its scopes, and the limits of one render. Its members live in
// VekRender.cpp (the walk and the output), RenderLoops.cpp (each, if,
// unless), RenderLayouts.cpp (includes, layouts, blocks, super) and
// RenderMacros.cpp (calls).
// Internal to the standard tags.
#pragma once

#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Modifiers.h"
#include "PageBuffer.h"
#include "RenderScopes.h"
#include "TemplateResolver.h"
#include "VekEngine.h"
#include "VekStdTags.h"
#include "VekTemplate.h"

class TVekStdTags::TRenderer {
 public:
  /// Renders with templates from Root and the values of Data; none is owned,
  /// all must outlive the renderer. With a Sink, the page is handed to it in
  /// pieces as it grows (Run then returns what is left, "").
  TRenderer(const TVekTemplateRoot& Root, const TVekData& Data, const TVekStdTagsOptions& Options,
            const TVekSink* Sink = nullptr);
  /// The page of Page, from its node FirstNode on. Throws EVekTemplateError.
  AnsiString Run(const TPage& Page, int FirstNode);

 private:
  using json = TVekData;
  using TNode = vekstd::TNode;
  using TTemplate = vekstd::TTemplate;

  /// A template and the layouts it extends, outermost last (the page's, or
  /// an included template's).
  struct TChain {
    std::vector<std::shared_ptr<const TTemplate>> Templates;
    std::vector<std::filesystem::path> Paths;
  };

  /// What a frame walks element by element, if anything.
  enum class TLoop : uint8_t { None, Elements, Range };

  struct TFrame {
    std::shared_ptr<const TTemplate> Template;  // held by an include's frame
    const TTemplate* T = nullptr;
    int Pos = 0, Stop = 0;
    // An each: a list or object walked element by element, or a range.
    TLoop Loop = TLoop::None;
    json::const_iterator It, ItEnd;
    bool Object = false;           // walks an object's members
    long long Next = 0, Last = 0;  // a range's number in hand, and its last
    int BodyBegin = 0;
    bool PushedScope = false;
    bool VarScope = false;      // a scope of the names set in this frame is on top
    bool OwnsTemplate = false;  // the frame of a whole template
    int IncludedAt = -1;        // offset of the include tag in the frame below
    const std::filesystem::path* Path = nullptr;           // the template's file
    std::shared_ptr<const std::filesystem::path> OwnPath;  // held by an include's frame
    int Level = -1;  // the layout chain's template this walks, -1 for an include
    int Block = -1;  // the block node whose definition this walks, or -1
    int BlockLevel = -1;
    const TChain* Chain = nullptr;  // the layout chain Level counts in
    // The template whose macros a call here finds (null: T's own), and for
    // a macro's body, the offset of its call tag in the frame below.
    const TTemplate* Home = nullptr;
    int CalledAt = -1;
  };

  const TFrame& Current() const { return FFrames.back(); }
  [[noreturn]] void Fail(const std::string& Message, const std::string& Limit = {}) const;
  void Push(TFrame Frame);
  TFrame Body(int Begin, int Stop) const;
  const json* Require(const std::string& Path, json& Scratch, uint32_t* Hint = nullptr) const {
    const json* v = Path.empty() ? nullptr : FScopes.Lookup(Path, Scratch, Hint);
    if (!v && FOptions.Strict) NoValue(Path);
    return v;
  }
  [[noreturn]] void NoValue(const std::string& Path) const;
  /// The place of the member the value tag N found last (see DataStep), kept
  /// per node of the current template for this render.
  uint32_t* HintOf(const TNode& N) {
    const TTemplate* t = Current().T;
    if (t != FHintsOf) HintsFor(t);
    return FHintsAt + (&N - t->Nodes.data());
  }
  void HintsFor(const TTemplate* T);

  // The output (VekRender.cpp).
  void Append(const char* Bytes, size_t N) {
    if (FSent + FOut.Size() + N > static_cast<unsigned long long>(FOptions.MaxOutput)) TooLarge();
    FOut.Append(Bytes, N);
  }
  void CheckSize() const {
    if (FSent + FOut.Size() > static_cast<unsigned long long>(FOptions.MaxOutput)) TooLarge();
  }
  /// Text escaped as E says (Json: the value itself, for JSON contexts),
  /// then measured against the limit.
  void AppendEscaped(const vekstd::TEscape& E, std::string_view Text, const json& Json);
  [[noreturn]] void TooLarge() const;
  void Value(const TNode& N);
  void WriteValue(const TNode& N);
  void AppTag(const TNode& N, const vekstd::TDetails& D);
  void Flush();

  // Loops and conditions (RenderLoops.cpp).
  bool NextRound(TFrame& F);
  long long Bound(const vekstd::TCondOp& Op);
  void Each(const TNode& N);
  bool Holds(const TNode& N);
  /// The value of an expression, valid until the next; Fail for its faults.
  const json* Evaluate(const std::vector<vekstd::TCondOp>& Expr);
  void Condition(const TNode& N);
  void Set(const TNode& N);

  // Includes and layouts (RenderLayouts.cpp).
  const TChain& Layouts(std::shared_ptr<const TTemplate> T, const std::filesystem::path& Path);
  std::vector<vekstd::TOpenTemplate> OpenTemplates() const;
  void Block(const TNode& N);
  void Super();
  void Definition(int Level, int Def);
  void Include(const TNode& N);

  // Macros (RenderMacros.cpp).
  /// What a call tag finds: the macro and its body for the tag's state.
  struct TCallSite {
    std::shared_ptr<const TTemplate> Keep;  // the template the call stands in
    const TTemplate* From = nullptr;        // the template whose macros it sees
    const TTemplate* Home = nullptr;        // the template that defines the macro
    int Macro = -1;
    std::shared_ptr<const TTemplate> Body;  // judged for the call's state
  };
  /// The site of the call N (whose IncludeOf is At) seeing the macros of
  /// From; Fail for a macro not found, an argument it does not take, a body
  /// that cannot stand where the call does.
  const TCallSite& CallSite(const TNode& N, const vekstd::TIncludeAt& At, const TTemplate* From);
  void Call(const TNode& N);
  /// The files Home imports, found once per render.
  const vekstd::TImported& ImportsOf(const TTemplate* Home);
  std::shared_ptr<const TTemplate> Hold(const TTemplate* T) const;

  // What evaluating an expression asks of the render.
  class THooks final : public vekstd::TEvalHooks {
   public:
    explicit THooks(TRenderer& R) : R(R) {}
    const json* Lookup(const vekstd::TCondOp& Op) override;
    void Mixed(const std::string& What) override;
    void Fault(const std::string& What) override;
    void Call(const std::string& Name, const json* const* Args, size_t Count, json& Out) override;

   private:
    TRenderer& R;
  };

  const TVekData& FData;
  const TVekStdTagsOptions& FOptions;
  const TVekSink* FSink;
  vekstd::TResolver FResolver;
  std::vector<TFrame> FFrames;
  vekstd::TScopes FScopes;
  // The template rendered and the layouts it extends, outermost last.
  std::deque<TChain> FChains;  // a deque: frames point at their chain
  vekstd::TPageBuffer FOut;
  unsigned long long FSent = 0;         // bytes handed to the sink
  const TNode* FAt = nullptr;           // the node being rendered, for messages
  vekstd::TModResult FModified;         // a value's modifiers' work, its buffers reused
  std::vector<const json*> FCondStack;  // a condition's operands, reused
  std::vector<json> FCondScratch;       // the @names a condition looked up
  std::vector<json> FCondResults;       // the values an expression computed
  THooks FHooks{*this};
  // The call sites met so far, by their call tag's arguments.
  std::unordered_map<const vekstd::TIncludeAt*, TCallSite> FCallSites;
  TCallSite FUnkeptSite;   // a site that could not be kept, for its one call
  vekstd::TScope FParams;  // a call's parameters as they are bound, its room reused
  // The imports of the templates whose calls looked for them.
  std::deque<std::pair<const TTemplate*, vekstd::TImported>> FImported;
  // The look-up hints of each template's nodes, and those of the template
  // last asked for.
  std::unordered_map<const TTemplate*, std::vector<uint32_t>> FHints;
  const TTemplate* FHintsOf = nullptr;
  uint32_t* FHintsAt = nullptr;
  json FValueScratch;  // a value made by its look-up (@index), reused
  json FNoScratch;     // handed to a look-up that makes no value (not a position)
  // The look-up hints of expressions' paths, by the place of their step in
  // memory: two steps may share one, a hint being checked before it is used.
  static constexpr size_t kOpHints = 256;
  uint32_t FOpHints[kOpHints] = {};
  long long FIncludes = 0;
  long long FSteps = 0;  // nodes visited
};
