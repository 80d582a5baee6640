// The renderer's walk and its output: the loop over the frames that visits
// every node once per time it is reached, values modified and escaped
// straight into the page, the limits of steps, depth and output, and the
// error of a render with its place and include chain. A template that
// extends a layout is rendered by walking the outermost layout, each block
// taken from the nearest template of the chain that defines it. Its cost is
// linear in the nodes it visits and the bytes it outputs.
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "Escapers.h"
#include "Renderer.h"

using vekstd::TNodeKind;

namespace {
// A sink is handed the page in pieces of about this size.
constexpr size_t kSinkPiece = 32768;
}  // namespace

TVekStdTags::TRenderer::TRenderer(const TVekTemplateRoot& Root, const TVekData& Data,
                                  const TVekStdTagsOptions& Options, const TVekSink* Sink)
    : FData(Data), FOptions(Options), FSink(Sink), FResolver(Root, Options) {}

void TVekStdTags::TRenderer::Flush() {
  if (FOut.Size() == 0) return;
  (*FSink)(FOut.Data(), FOut.Size());
  FSent += FOut.Size();
  FOut.Clear();
}

AnsiString TVekStdTags::TRenderer::Run(const TPage& Page, int FirstNode) {
  if (FOptions.Globals) {
    vekstd::TScope globals;
    globals.Value = FOptions.Globals.get();
    FScopes.PushGlobals(std::move(globals));
  }
  vekstd::TScope data;
  data.Value = &FData;
  FScopes.Push(std::move(data));
  TFrame root;
  root.Template = Page.Template;
  root.T = Page.Template.get();
  root.Pos = FirstNode;
  root.Path = &Page.Path;
  root.OwnsTemplate = true;
  root.Level = 0;
  if (Page.Template->Extends >= 0) {
    const TChain& c = Layouts(Page.Template, Page.Path);
    root.T = c.Templates.back().get();
    root.Template = c.Templates.back();
    root.Path = &c.Paths.back();
    root.Level = static_cast<int>(c.Templates.size() - 1);
    root.Chain = &c;
    root.Pos = 0;
  } else {
    FChains.push_back({{Page.Template}, {Page.Path}});
    root.Chain = &FChains.back();
  }
  root.Stop = static_cast<int>(root.T->Nodes.size());
  FFrames.push_back(std::move(root));
  while (!FFrames.empty()) {
    if (FSink && FOut.Size() >= kSinkPiece) Flush();
    TFrame& f = FFrames.back();
    if (f.Pos >= f.Stop) {
      // Names set in a block end with it, and with each round of a loop.
      if (f.VarScope) FScopes.Innermost().ClearVars();
      if (NextRound(f)) continue;
      if (f.VarScope) FScopes.Pop();
      if (f.PushedScope) FScopes.Pop();
      FFrames.pop_back();
      continue;
    }
    const TNode& n = f.T->Nodes[static_cast<size_t>(f.Pos++)];
    FAt = &n;
    if (++FSteps > FOptions.MaxSteps) {
      Fail("the page takes more than " + std::to_string(FOptions.MaxSteps) + " steps" +
               vekstd::TheLimit("MaxSteps"),
           "MaxSteps");
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
      case TNodeKind::Set:
        Set(n);
        break;
      case TNodeKind::Call:
        Call(n);
        break;
      case TNodeKind::Macro:
        f.Pos = n.Close + 1;  // output where it is called
        break;
      default:
        break;  // else, elif, closing tags, extends, comments
    }
  }
  if (FSink) Flush();
  return FOut.Take();
}

void TVekStdTags::TRenderer::Fail(const std::string& Message, const std::string& Limit) const {
  if (FFrames.empty()) throw EVekTemplateError(Message);
  // The include tags that led to the current template, innermost first.
  std::vector<EVekTemplateError::TPlace> chain;
  std::string called;  // the innermost call of a macro whose body this is
  for (size_t i = FFrames.size(); i-- > 1;) {
    const TFrame& inc = FFrames[i];
    if (inc.OwnsTemplate) chain.push_back(FFrames[i - 1].T->Place(inc.IncludedAt));
    // A limit reached in a macro's body names the call that led there.
    if (!Limit.empty() && inc.CalledAt >= 0 && called.empty() && chain.empty())
      called = " (in the macro called at " + FFrames[i - 1].T->Where(inc.CalledAt) + ")";
  }
  throw EVekTemplateError(Current().T->Place(FAt ? FAt->Begin : 0), Message + called,
                          std::move(chain), Limit);
}

void TVekStdTags::TRenderer::Push(TFrame Frame) {
  if (static_cast<long long>(FFrames.size()) > FOptions.MaxDepth) {
    Fail("pairs, includes and calls nested deeper than " + std::to_string(FOptions.MaxDepth) +
             vekstd::TheLimit("MaxDepth"),
         "MaxDepth");
  }
  FFrames.push_back(std::move(Frame));
}

// A frame over the nodes [Begin, Stop) of the current template.
TVekStdTags::TRenderer::TFrame TVekStdTags::TRenderer::Body(int Begin, int Stop) const {
  const TFrame& c = Current();
  TFrame f;
  f.T = c.T;
  f.Pos = Begin;
  f.Stop = Stop;
  f.Path = c.Path;
  f.Level = c.Level;
  f.Block = c.Block;
  f.BlockLevel = c.BlockLevel;
  f.Chain = c.Chain;
  f.Home = c.Home;
  return f;
}

void TVekStdTags::TRenderer::NoValue(const std::string& Path) const {
  const std::string near = FScopes.NearestPath(Path);
  Fail("no value \"" + Path + "\" in the data" +
       (near.empty() ? "" : " (did you mean \"" + near + "\"?)"));
}

void TVekStdTags::TRenderer::TooLarge() const {
  Fail("the page grows beyond " + std::to_string(FOptions.MaxOutput) + " bytes" +
           vekstd::TheLimit("MaxOutput"),
       "MaxOutput");
}

// A value, and "" in its place where an unquoted attribute value starts
// and the value wrote nothing (missing, null, empty, a list left out).
void TVekStdTags::TRenderer::Value(const TNode& N) {
  const unsigned long long before = FSent + FOut.Size();
  WriteValue(N);
  if (FSent + FOut.Size() == before && Current().T->EscapeOf(N).NeverEmpty) Append("\"\"", 2);
}

void TVekStdTags::TRenderer::HintsFor(const TTemplate* T) {
  std::vector<uint32_t>& hints = FHints[T];
  hints.resize(T->Nodes.size(), 0);
  FHintsOf = T;
  FHintsAt = hints.data();
}

void TVekStdTags::TRenderer::WriteValue(const TNode& N) {
  static const json kNull;
  json& scratch = FValueScratch;
  const vekstd::TDetails& details = Current().T->DetailsOf(N);
  if (details.AppTag >= 0) {
    AppTag(N, details);
    return;
  }
  const auto& mods = details.Mods;
  const vekstd::TEscape& escape = Current().T->EscapeOf(N);
  long long position = 0;
  if (mods.empty() && vekstd::HtmlEscapeOnly(escape) && FScopes.WholePosition(N.Path, position)) {
    // A loop's position written as its number, without a value made.
    char digits[24];
    const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, position);
    Append(digits, static_cast<size_t>(r.ptr - digits));
    return;
  }
  uint32_t* const hint = HintOf(N);
  const json* v = FScopes.HintedMember(N.Path, *hint);
  if (!v) {
    v = !mods.empty() && vekstd::HasDefault(mods) ? FScopes.Lookup(N.Path, scratch, hint)
                                                  : Require(N.Path, scratch, hint);
  }
  const bool asJson = escape.Inner == vekstd::TInner::JsValue;
  if (!mods.empty()) {
    try {
      vekstd::ApplyModifiers(mods, v, FModified, FOptions.Extensions.get());
    } catch (const vekstd::TModifierFault& e) {
      Fail(e.what());
    }
    if (FModified.IsText) {
      if (asJson) {
        AppendEscaped(escape, FModified.View, json(FModified.View));
      } else {
        AppendEscaped(escape, FModified.View, kNull);
      }
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
      if (vekstd::HtmlEscapeOnly(escape)) {
        v->get<bool>() ? Append("true", 4) : Append("false", 5);
        return;
      }
      scratchText = v->get<bool>() ? "true" : "false";
      break;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned: {
      // Written as the data's own writer writes a whole number, without
      // its per-value set-up; digits and '-' need no HTML escaping.
      char digits[24];
      const std::to_chars_result r =
          v->is_number_unsigned()
              ? std::to_chars(digits, digits + sizeof digits, v->get<unsigned long long>())
              : std::to_chars(digits, digits + sizeof digits, v->get<long long>());
      if (vekstd::HtmlEscapeOnly(escape)) {
        Append(digits, static_cast<size_t>(r.ptr - digits));
        return;
      }
      scratchText.assign(digits, r.ptr);
      break;
    }
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
    case json::value_t::binary: {
      // Markup made by the caller (rendered Markdown): as it is where
      // element text stands or under raw, refused wherever it would need
      // escaping to be safe or right.
      if (!escape.Markup &&
          (escape.Inner != vekstd::TInner::None || escape.Wrap != vekstd::TWrap::None))
        Fail("\"" + N.Path + "\" is HTML: it may stand only in element text, not in " +
             escape.Where);
      const auto& bytes = v->get_binary();
      Append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      CheckSize();
      return;
    }
    default:
      if (!asJson) return;  // null
      break;
  }
  AppendEscaped(escape, *text, *v);
}

// Escaped straight into the page (HTML a piece at a time, in the room that
// its longest escaping could take), then measured against the limit.
void TVekStdTags::TRenderer::AppendEscaped(const vekstd::TEscape& E, std::string_view Text,
                                           const json& Json) {
  if (!vekstd::HtmlEscapeOnly(E)) {
    const std::string escaped = vekstd::ApplyEscape(E, std::string(Text), Json);
    Append(escaped.data(), escaped.size());
    return;
  }
  if (E.KeepLeadingNewline && !Text.empty() && Text[0] == '\n') Append("\n", 1);
  constexpr size_t kPiece = 4096;
  std::string_view rest(Text);
  while (!rest.empty()) {
    const std::string_view piece = rest.substr(0, kPiece);
    char* const w = FOut.Room(piece.size() * 6);
    FOut.Commit(static_cast<size_t>(vekstd::WriteHtml(w, piece) - w));
    rest.remove_prefix(piece.size());
    CheckSize();
  }
}

// A tag answered by the application's handler: its answer escaped where
// the tag stands, or as it is when trusted HTML stands in element text.
void TVekStdTags::TRenderer::AppTag(const TNode& N, const vekstd::TDetails& D) {
  const vekstd::TAppTag& tag = Current().T->AppTags[static_cast<size_t>(D.AppTag)];
  const TVekTagHandler* handler =
      FOptions.Extensions ? FOptions.Extensions->Tag(tag.Name) : nullptr;
  if (!handler) Fail("no handler for the tag \"" + tag.Name + "\"");
  TVekTagAnswer answer;
  try {
    answer = (*handler)(TVekTagCall(tag.Name, tag.Params, &FScopes));
  } catch (const EVekTemplateError& e) {
    Fail("tag \"" + tag.Name + "\": " + e.Message());
  } catch (const std::exception& e) {
    Fail("tag \"" + tag.Name + "\": " + e.what());
  }
  const vekstd::TEscape& escape = Current().T->EscapeOf(N);
  if (answer.TrustedHtml && escape.Inner == vekstd::TInner::Html &&
      escape.Wrap == vekstd::TWrap::None && std::strcmp(escape.Where, "element text") == 0) {
    Append(answer.Text.data(), answer.Text.size());
    return;
  }
  const bool asJson = escape.Inner == vekstd::TInner::JsValue;
  AppendEscaped(escape, answer.Text, asJson ? json(answer.Text) : json());
}

AnsiString TVekStdTags::Walk(const TPage& Page, int FirstNode) {
  return TRenderer(FRoot, *FData, FOptions).Run(Page, FirstNode);
}
