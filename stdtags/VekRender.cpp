// The renderer: walks a parsed template with an explicit stack of frames (a
// pair's body, one element of an each, a block, an included template),
// looking names up in a stack of scopes, and enforces the limits of one
// render. A template that extends a layout is rendered by walking the
// outermost layout, each block taken from the nearest template of the chain
// that defines it. Its cost is linear in the nodes it visits and the bytes
// it outputs.
#include <deque>
#include <string>
#include <vector>

#include "DataPath.h"
#include "Escapers.h"
#include "Modifiers.h"
#include "VekStdTags.h"
#include "VekTemplate.h"

using json = TVekData;
using vekstd::TNode;
using vekstd::TNodeKind;
using vekstd::TTemplate;

namespace {

// The most numbers one range may hold.
const long long kMaxRange = 1000000;

bool WholeNumber(const json* V, long long& Out) {
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

class TVekStdTags::TRenderer {
 public:
  TRenderer(TVekStdTags& Tags) : FTags(Tags), FOptions(Tags.FOptions) {}

  AnsiString Run(const TPage& Page, int FirstNode) {
    FScopes.push_back({FTags.FData.get(), -1, 0, nullptr, json()});
    TFrame root;
    root.Template = Page.Template;
    root.T = Page.Template.get();
    root.Pos = FirstNode;
    root.Path = &Page.Path;
    root.OwnsTemplate = true;
    root.Level = 0;
    FChain.push_back(Page.Template);
    FChainPaths.push_back(Page.Path);
    if (Page.Template->Extends >= 0) {
      Layouts();
      root.T = FChain.back().get();
      root.Template = FChain.back();
      root.Path = &FChainPaths.back();
      root.Level = static_cast<int>(FChain.size() - 1);
      root.Pos = 0;
    }
    root.Stop = static_cast<int>(root.T->Nodes.size());
    FFrames.push_back(std::move(root));
    while (!FFrames.empty()) {
      TFrame& f = FFrames.back();
      if (f.Pos >= f.Stop) {
        if (NextRound(f)) continue;
        if (f.PushedScope) FScopes.pop_back();
        FFrames.pop_back();
        continue;
      }
      const TNode& n = f.T->Nodes[static_cast<size_t>(f.Pos++)];
      FAt = &n;
      if (++FSteps > FOptions.MaxSteps) {
        Fail("the page takes more than " + std::to_string(FOptions.MaxSteps) +
             " steps (the limit --max-steps)");
      }
      switch (n.Kind) {
        case TNodeKind::Text:
          Append(f.T->Text.data() + n.Begin, static_cast<size_t>(n.End - n.Begin));
          break;
        case TNodeKind::Value:
          Value(n);
          break;
        case TNodeKind::Each:
          Each(n);
          break;
        case TNodeKind::If:
        case TNodeKind::Unless:
          Condition(n);
          break;
        case TNodeKind::Include:
          Include(n);
          break;
        case TNodeKind::Block:
          Block(n);
          break;
        case TNodeKind::Super:
          Super();
          break;
        default:
          break;  // else, elif, closing tags, extends, comments
      }
    }
    return std::move(FOut);
  }

 private:
  struct TScope {
    const json* Value;
    long long Index;  // position within the list of an each, -1 for other scopes
    long long Count;
    const std::string* Key;  // the member's name, when an each walks an object
    json Own;                // the number of a range
  };
  struct TFrame {
    std::shared_ptr<const TTemplate> Template;  // held by an include's frame
    const TTemplate* T = nullptr;
    int Pos = 0, Stop = 0;
    // An each: a list or object walked element by element, or a range.
    int Loop = 0;  // 0: none, 1: list or object, 2: range
    json::const_iterator It, ItEnd;
    bool Object = false;           // walks an object's members
    long long Next = 0, Last = 0;  // a range's number in hand, and its last
    int BodyBegin = 0;
    bool PushedScope = false;
    bool OwnsTemplate = false;                    // the frame of a whole template
    int IncludedAt = -1;                          // offset of the include tag in the frame below
    const std::filesystem::path* Path = nullptr;  // the template's file
    std::shared_ptr<const std::filesystem::path> OwnPath;  // held by an include's frame
    int Level = -1;  // the layout chain's template this walks, -1 for an include
    int Block = -1;  // the block node whose definition this walks, or -1
    int BlockLevel = -1;
  };

  const TFrame& Current() const { return FFrames.back(); }

  [[noreturn]] void Fail(const std::string& Message) const {
    if (FFrames.empty()) throw EVekTemplateError(Message);
    const TFrame& f = Current();
    std::string where = f.T->Where(FAt ? FAt->Begin : 0) + ": " + Message;
    std::string chain;
    for (size_t i = FFrames.size(); i-- > 1;) {
      const TFrame& inc = FFrames[i];
      if (!inc.OwnsTemplate) continue;
      size_t below = i - 1;
      chain += chain.empty() ? " (included from " : ", from ";
      chain += FFrames[below].T->Where(inc.IncludedAt);
    }
    if (!chain.empty()) chain += ")";
    throw EVekTemplateError(where + chain);
  }

  // Resolves the layouts a template extends, outermost last, and places the
  // blocks of each in the HTML context its layout gives them.
  void Layouts() {
    for (;;) {
      const TTemplate& t = *FChain.back();
      if (t.Extends < 0) break;
      const TNode& n = t.Nodes[static_cast<size_t>(t.Extends)];
      auto fail = [&](const std::string& Message) {
        throw EVekTemplateError(t.Where(n.Begin) + ": " + Message);
      };
      if (static_cast<int>(FChain.size()) > FOptions.MaxIncludeDepth) {
        fail("layouts extend each other deeper than " + std::to_string(FOptions.MaxIncludeDepth));
      }
      TVekTemplateFile file;
      try {
        file = FTags.FRoot.Locate(t.Name, n.Path);
      } catch (const EVekPathError& e) {
        fail(std::string("extends: ") + e.what());
      }
      for (size_t i = 0; i < FChainPaths.size(); ++i) {
        if (FChainPaths[i] != file.Path) continue;
        std::string names;
        for (const auto& c : FChain) names += c->Name + " -> ";
        fail("layout cycle: " + names + file.Name);
      }
      std::shared_ptr<const TTemplate> layout;
      try {
        layout = FOptions.Cache->Get(FTags.FRoot, file, FOptions.TagBeg, FOptions.TagEnd,
                                     vekstd::THtmlState());
        FTags.Refuse(*layout);
      } catch (const EVekTemplateError& e) {
        fail(std::string("extends: ") + e.what());
      }
      FChain.push_back(std::move(layout));
      FChainPaths.push_back(file.Path);
    }
    for (size_t i = FChain.size() - 1; i-- > 0;) {
      FChain[i] = vekstd::PlaceBlocks(*FChain[i], *FChain[i + 1]);
      FTags.Refuse(*FChain[i]);
    }
  }

  void Append(const char* Bytes, size_t N) {
    if (FOut.size() + N > static_cast<unsigned long long>(FOptions.MaxOutput)) TooLarge();
    FOut.append(Bytes, N);
  }
  void CheckSize() const {
    if (FOut.size() > static_cast<unsigned long long>(FOptions.MaxOutput)) TooLarge();
  }
  [[noreturn]] void TooLarge() const {
    Fail("the page grows beyond " + std::to_string(FOptions.MaxOutput) +
         " bytes (the limit --max-output)");
  }

  void Push(TFrame Frame) {
    if (static_cast<long long>(FFrames.size()) > FOptions.MaxDepth) {
      Fail("pairs and includes nested deeper than " + std::to_string(FOptions.MaxDepth) +
           " (the limit --max-depth)");
    }
    FFrames.push_back(std::move(Frame));
  }

  // A frame over the nodes [Begin, Stop) of the current template.
  TFrame Body(int Begin, int Stop) const {
    const TFrame& c = Current();
    TFrame f;
    f.T = c.T;
    f.Pos = Begin;
    f.Stop = Stop;
    f.Path = c.Path;
    f.Level = c.Level;
    f.Block = c.Block;
    f.BlockLevel = c.BlockLevel;
    return f;
  }

  // The end of an each's body: on to the next element, if any.
  bool NextRound(TFrame& F) {
    TScope& s = FScopes.back();
    if (F.Loop == 1) {
      if (++F.It == F.ItEnd) return false;
      s.Value = &*F.It;
      s.Key = F.Object ? &F.It.key() : nullptr;
    } else if (F.Loop == 2) {
      if (F.Next >= F.Last) return false;  // never past the last: no overflow
      s.Own = ++F.Next;
    } else {
      return false;
    }
    ++s.Index;
    F.Pos = F.BodyBegin;
    return true;
  }

  const json* Lookup(const AnsiString& Path, json& Scratch) const {
    if (Path == ".") return FScopes.back().Value;
    if (!Path.empty() && Path[0] == '@') {
      for (auto it = FScopes.rbegin(); it != FScopes.rend(); ++it) {
        if (it->Index < 0) continue;
        if (Path == "@index") {
          Scratch = it->Index;
        } else if (Path == "@number") {
          Scratch = it->Index + 1;
        } else if (Path == "@count") {
          Scratch = it->Count;
        } else if (Path == "@first") {
          Scratch = it->Index == 0;
        } else if (Path == "@last") {
          Scratch = it->Index == it->Count - 1;
        } else if (Path == "@key") {
          if (it->Key) {
            Scratch = *it->Key;
          } else {
            Scratch = it->Index;
          }
        } else {
          return nullptr;
        }
        return &Scratch;
      }
      return nullptr;
    }
    // The first name is looked up from the innermost scope outwards; the rest
    // of the path only below what it found.
    const size_t dot = Path.find('.');
    const std::string first = Path.substr(0, dot);
    if (first.empty()) return nullptr;
    const json* v = nullptr;
    for (auto it = FScopes.rbegin(); it != FScopes.rend() && !v; ++it) {
      if (it->Value->is_object()) v = vekstd::DataStep(it->Value, first);
    }
    size_t start = dot;
    while (v && start != AnsiString::npos) {
      const size_t next = Path.find('.', start + 1);
      const std::string key =
          Path.substr(start + 1, next == AnsiString::npos ? AnsiString::npos : next - start - 1);
      if (key.empty()) return nullptr;
      v = vekstd::DataStep(v, key);
      start = next;
    }
    return v;
  }

  const json* Require(const AnsiString& Path, json& Scratch) const {
    const json* v = Path.empty() ? nullptr : Lookup(Path, Scratch);
    if (!v && FOptions.Strict) Fail("no value \"" + Path + "\" in the data");
    return v;
  }

  void Value(const TNode& N) {
    static const json kNull;
    json scratch;
    const auto& mods = Current().T->DetailsOf(N).Mods;
    const json* v = vekstd::HasDefault(mods) ? Lookup(N.Path, scratch) : Require(N.Path, scratch);
    const vekstd::TEscape& escape = Current().T->EscapeOf(N);
    const bool asJson = escape.Inner == vekstd::TInner::JsValue;
    if (!mods.empty()) {
      vekstd::ApplyModifiers(mods, v, FModified);
      if (FModified.IsText) {
        vekstd::AppendEscaped(FOut, escape, FModified.Text, asJson ? json(FModified.Text) : kNull);
        CheckSize();
        return;
      }
      v = FModified.Value;
    }
    if (!v) {
      if (asJson) Append("null", 4);  // keeps the script's syntax
      return;
    }
    std::string scratchText;
    const std::string* text = &scratchText;
    switch (v->type()) {
      case json::value_t::string:
        text = &v->get_ref<const json::string_t&>();
        break;
      case json::value_t::boolean:
        scratchText = v->get<bool>() ? "true" : "false";
        break;
      case json::value_t::number_integer:
      case json::value_t::number_unsigned:
      case json::value_t::number_float:
        scratchText = v->dump();
        break;
      case json::value_t::array:
      case json::value_t::object:
        if (!asJson) {
          if (FOptions.Strict) {
            Fail("\"" + N.Path + "\" is " + (v->is_array() ? "a list" : "an object") +
                 ", not a value");
          }
          return;
        }
        break;
      default:
        if (!asJson) return;  // null
        break;
    }
    // Escaped straight into the page, then measured against the limit.
    vekstd::AppendEscaped(FOut, escape, *text, *v);
    CheckSize();
  }

  // The bounds of a range, by their literals or names.
  long long Bound(const vekstd::TCondOp& Op) {
    json scratch;
    const json* v = Op.Kind == vekstd::TCondOp::OpLiteral ? &Op.Literal : Require(Op.Path, scratch);
    long long out = 0;
    if (!WholeNumber(v, out)) {
      Fail("a range's end \"" + (Op.Kind == vekstd::TCondOp::OpPath ? Op.Path : v->dump()) +
           "\" is not a whole number");
    }
    return out;
  }

  void Each(const TNode& N) {
    TFrame& f = FFrames.back();
    const int body = f.Pos, close = N.Close;
    const int stop = N.Else >= 0 ? N.Else : close;
    f.Pos = close + 1;
    TFrame frame = Body(body, stop);
    frame.BodyBegin = body;
    frame.PushedScope = true;
    TScope scope{nullptr, 0, 0, nullptr, json()};
    const vekstd::TDetails& d = Current().T->DetailsOf(N);
    if (d.Range) {
      const long long from = Bound(d.From), last = Bound(d.To);
      if (last >= from) {
        if (static_cast<long double>(last) - static_cast<long double>(from) >= kMaxRange)
          Fail("a range of more than " + std::to_string(kMaxRange) + " numbers");
        frame.Loop = 2;
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
        frame.Loop = 1;
        frame.It = list->cbegin();
        frame.ItEnd = list->cend();
        scope.Value = &*frame.It;
        frame.Object = list->is_object();
        scope.Key = frame.Object ? &frame.It.key() : nullptr;
        scope.Count = static_cast<long long>(list->size());
      }
    }
    if (frame.Loop == 0) {
      if (N.Else >= 0 && N.Else + 1 < close) Push(Body(N.Else + 1, close));
      return;
    }
    if (body == stop) return;
    Push(std::move(frame));
    FScopes.push_back(std::move(scope));
    if (!FScopes.back().Value) FScopes.back().Value = &FScopes.back().Own;
  }

  bool Holds(const TNode& N) {
    const auto& cond = Current().T->DetailsOf(N).Cond;
    if (cond.empty()) return false;  // a faulty condition, rendered leniently
    // Each @name looked up gets its own scratch value; reserved so that none
    // moves while the condition is evaluated.
    FCondScratch.clear();
    FCondScratch.reserve(cond.size());
    return vekstd::EvalCondition(
        cond,
        [&](const std::string& Path) {
          FCondScratch.emplace_back();
          return Require(Path, FCondScratch.back());
        },
        [&](const std::string& Types) {
          if (FOptions.Strict)
            Fail("cannot order " + Types + " in " + FTags.FOptions.TagBeg + "..." +
                 FTags.FOptions.TagEnd);
        },
        FCondStack);
  }

  void Condition(const TNode& N) {
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

  // A block of a layout: its definition in the nearest template that has one.
  void Block(const TNode& N) {
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
  void Super() {
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

  void Definition(int Level, int Def) {
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

  void Include(const TNode& N) {
    if (N.Path.empty())
      Fail(FOptions.TagBeg + "include" + FOptions.TagEnd + " without file=\"...\"");
    if (++FIncludes > FOptions.MaxIncludes) {
      Fail("more than " + std::to_string(FOptions.MaxIncludes) +
           " includes in one page (the limit --max-includes)");
    }
    const TFrame& from = Current();
    TVekTemplateFile file;
    try {
      file = FTags.FRoot.Locate(from.T->Name, N.Path);
    } catch (const EVekPathError& e) {
      Fail(std::string("include: ") + e.what());
    }
    // The templates being included, outermost first.
    std::vector<const TFrame*> chain;
    for (const TFrame& fr : FFrames) {
      if (fr.OwnsTemplate) chain.push_back(&fr);
    }
    auto names = [&] {
      std::string s;
      for (const TFrame* fr : chain) s += fr->T->Name + " -> ";
      return s + file.Name;
    };
    for (const TFrame* fr : chain) {
      if (*fr->Path == file.Path) Fail("include cycle: " + names());
    }
    if (static_cast<int>(chain.size()) > FOptions.MaxIncludeDepth) {
      Fail("includes nested deeper than " + std::to_string(FOptions.MaxIncludeDepth) + ": " +
           names());
    }
    std::shared_ptr<const TTemplate> t;
    try {
      t = FOptions.Cache->Get(FTags.FRoot, file, FOptions.TagBeg, FOptions.TagEnd,
                              from.T->IncludeOf(N).State);
      FTags.Refuse(*t);
    } catch (const EVekPathError& e) {
      Fail(std::string("include: ") + e.what());
    } catch (const EVekTemplateError& e) {
      Fail(std::string("include: ") + e.what());
    }
    if (!FOptions.Lenient && t->EndState != t->StartState) {
      Fail("include: " + file.Name + " begins in " + t->StartState.Describe() + " and ends in " +
           t->EndState.Describe() + ": what follows it would be escaped for the wrong place");
    }
    TFrame frame;
    frame.T = t.get();
    frame.Template = std::move(t);
    frame.Pos = 0;
    frame.Stop = static_cast<int>(frame.T->Nodes.size());
    frame.OwnsTemplate = true;
    frame.IncludedAt = N.Begin;
    frame.OwnPath = std::make_shared<const std::filesystem::path>(file.Path);
    frame.Path = frame.OwnPath.get();
    const json& argsValue = from.T->IncludeOf(N).Args;
    const bool args = !argsValue.empty();
    frame.PushedScope = args;
    Push(std::move(frame));
    if (args) FScopes.push_back({&argsValue, -1, 0, nullptr, json()});
  }

  TVekStdTags& FTags;
  const TVekStdTagsOptions& FOptions;
  std::vector<TFrame> FFrames;
  std::deque<TScope> FScopes;  // a deque: a scope's Own stays where it is
  // The template rendered and the layouts it extends, outermost last.
  std::vector<std::shared_ptr<const TTemplate>> FChain;
  std::vector<std::filesystem::path> FChainPaths;
  AnsiString FOut;
  const TNode* FAt = nullptr;           // the node being rendered, for messages
  vekstd::TModResult FModified;         // a value's modifiers' work, its buffers reused
  std::vector<const json*> FCondStack;  // a condition's operands, reused
  std::vector<json> FCondScratch;       // the @names a condition looked up
  long long FIncludes = 0;
  long long FSteps = 0;  // nodes visited
};

AnsiString TVekStdTags::Walk(const TPage& Page, int FirstNode) {
  return TRenderer(*this).Run(Page, FirstNode);
}
