// The renderer: walks a parsed template with an explicit stack of frames (a
// pair's body, one element of an each, an included template), looking names
// up in a stack of scopes, and enforces the limits of one render. Its cost
// is linear in the nodes it visits and the bytes it outputs.
#include <string>
#include <vector>

#include "Escapers.h"
#include "VekStdTags.h"
#include "VekTemplate.h"

using nlohmann::json;
using vekstd::TNode;
using vekstd::TNodeKind;
using vekstd::TTemplate;

namespace {

bool Truthy(const json* V) {
  if (!V) return false;
  switch (V->type()) {
    case json::value_t::null:
      return false;
    case json::value_t::boolean:
      return V->get<bool>();
    case json::value_t::number_integer:
      return V->get<json::number_integer_t>() != 0;
    case json::value_t::number_unsigned:
      return V->get<json::number_unsigned_t>() != 0;
    case json::value_t::number_float:
      return V->get<json::number_float_t>() != 0;
    case json::value_t::string:
      return !V->get_ref<const json::string_t&>().empty();
    case json::value_t::array:
    case json::value_t::object:
      return !V->empty();
    default:
      return true;
  }
}

// One step down a path: a member of an object, or an element of a list by
// its decimal position.
const json* Step(const json* V, const std::string& Key) {
  if (V->is_object()) {
    const auto it = V->find(Key);
    return it == V->end() ? nullptr : &*it;
  }
  if (V->is_array() && !Key.empty() && Key.size() < 19 &&
      Key.find_first_not_of("0123456789") == std::string::npos) {
    const auto index = std::stoull(Key);
    return index < V->size() ? &(*V)[static_cast<size_t>(index)] : nullptr;
  }
  return nullptr;
}

}  // namespace

class TVekStdTags::TRenderer {
 public:
  TRenderer(TVekStdTags& Tags) : FTags(Tags), FOptions(Tags.FOptions) {}

  AnsiString Run(const TPage& Page, int FirstNode) {
    FScopes.push_back({FTags.FData.get(), -1, 0});
    TFrame root;
    root.Template = Page.Template;
    root.T = Page.Template.get();
    root.Pos = FirstNode;
    root.Stop = static_cast<int>(root.T->Nodes.size());
    root.IncludedAt = -1;
    root.Path = &Page.Path;
    root.OwnsTemplate = true;
    FFrames.push_back(std::move(root));
    while (!FFrames.empty()) {
      TFrame& f = FFrames.back();
      if (f.Pos >= f.Stop) {
        // The end of a body: the next element of an each, or back out.
        if (f.List && ++f.Index < f.List->size()) {
          FScopes.back() = {&(*f.List)[f.Index], static_cast<long>(f.Index),
                            static_cast<long>(f.List->size())};
          f.Pos = f.BodyBegin;
          continue;
        }
        if (f.PushedScope) FScopes.pop_back();
        FFrames.pop_back();
        continue;
      }
      const TNode& n = f.T->Nodes[static_cast<size_t>(f.Pos++)];
      FAt = &n;
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
        default:
          break;  // else, closing tags, tags that output nothing
      }
    }
    return std::move(FOut);
  }

 private:
  struct TScope {
    const json* Value;
    long Index;  // position within the list of an each, -1 for other scopes
    long Count;
  };
  struct TFrame {
    std::shared_ptr<const TTemplate> Template;  // held by an include's frame
    const TTemplate* T = nullptr;
    int Pos = 0, Stop = 0;
    const json* List = nullptr;  // an each's list, walked element by element
    size_t Index = 0;
    int BodyBegin = 0;
    bool PushedScope = false;
    bool OwnsTemplate = false;                    // the frame of a whole template
    int IncludedAt = -1;                          // offset of the include tag in the frame below
    const std::filesystem::path* Path = nullptr;  // the template's file
    std::shared_ptr<const std::filesystem::path> OwnPath;  // held by an include's frame
  };

  const TFrame& Current() const { return FFrames.back(); }

  // "file:line:col: message (included from a.html:1:2, from page.html:3:4)".
  [[noreturn]] void Fail(const std::string& Message) const {
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
    TFrame f;
    f.T = Current().T;
    f.Pos = Begin;
    f.Stop = Stop;
    f.Path = Current().Path;
    return f;
  }

  const json* Lookup(const AnsiString& Path, json& Scratch) const {
    if (Path == ".") return FScopes.back().Value;
    if (Path == "@index" || Path == "@first" || Path == "@last") {
      for (auto it = FScopes.rbegin(); it != FScopes.rend(); ++it) {
        if (it->Index < 0) continue;
        if (Path == "@index") {
          Scratch = it->Index;
        } else {
          Scratch = Path == "@first" ? it->Index == 0 : it->Index == it->Count - 1;
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
      if (it->Value->is_object()) v = Step(it->Value, first);
    }
    size_t start = dot;
    while (v && start != AnsiString::npos) {
      const size_t next = Path.find('.', start + 1);
      const std::string key =
          Path.substr(start + 1, next == AnsiString::npos ? AnsiString::npos : next - start - 1);
      if (key.empty()) return nullptr;
      v = Step(v, key);
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
    json scratch;
    const json* v = Require(N.Path, scratch);
    const vekstd::TEscape& escape = Current().T->EscapeOf(N);
    const bool asJson = escape.Inner == vekstd::TInner::JsValue;
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
        if (!asJson) return;
        break;
    }
    // Escaped straight into the page, then measured against the limit.
    vekstd::AppendEscaped(FOut, escape, *text, *v);
    CheckSize();
  }

  void Each(const TNode& N) {
    json scratch;
    const json* list = Require(N.Path, scratch);
    TFrame& f = FFrames.back();
    const int body = f.Pos, close = N.Close;
    f.Pos = close + 1;
    if (!list || list->is_null()) return;
    if (!list->is_array()) {
      if (FOptions.Strict) Fail("\"" + N.Path + "\" is not a list");
      return;
    }
    if (list->empty() || body == close) return;
    TFrame frame = Body(body, close);
    frame.List = list;
    frame.BodyBegin = body;
    frame.PushedScope = true;
    Push(std::move(frame));
    FScopes.push_back({&(*list)[0], 0, static_cast<long>(list->size())});
  }

  void Condition(const TNode& N) {
    json scratch;
    const bool yes = Truthy(Require(N.Path, scratch)) == (N.Kind == TNodeKind::If);
    TFrame& f = FFrames.back();
    const int body = f.Pos;
    f.Pos = N.Close + 1;
    int begin = body, stop = N.Close;
    if (N.Else >= 0) {
      if (yes) {
        stop = N.Else;
      } else {
        begin = N.Else + 1;
      }
    } else if (!yes) {
      return;
    }
    if (begin < stop) Push(Body(begin, stop));
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
    if (args) FScopes.push_back({&argsValue, -1, 0});
  }

  TVekStdTags& FTags;
  const TVekStdTagsOptions& FOptions;
  std::vector<TFrame> FFrames;
  std::vector<TScope> FScopes;
  AnsiString FOut;
  const TNode* FAt = nullptr;  // the node being rendered, for messages
  long long FIncludes = 0;
};

AnsiString TVekStdTags::Walk(const TPage& Page, int FirstNode) {
  return TRenderer(*this).Run(Page, FirstNode);
}
