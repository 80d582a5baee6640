// The template parser: one walk over the text with the producer's scanner,
// pairs matched by per-name stacks as the producer matches them, then one
// walk over the nodes for the nesting depth and the HTML context of every
// value. Both walks are linear in the text; neither recurses.
#include "VekTemplate.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "TextRoutines.h"
#include "VekStdTags.h"

namespace vekstd {

namespace {

// A short, printable excerpt of the bytes S[From...].
std::string Excerpt(const AnsiString& S, size_t From) {
  const size_t kMax = 40;
  size_t stop = std::min(S.size(), From + kMax);
  // Do not cut a UTF-8 sequence in two.
  while (stop < S.size() && stop > From && (static_cast<unsigned char>(S[stop]) & 0xC0) == 0x80)
    --stop;
  std::string out = "\"";
  for (size_t i = From; i < stop; ++i) {
    const unsigned char c = static_cast<unsigned char>(S[i]);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 32 || c == 127) {
      static const char hex[] = "0123456789abcdef";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += stop < S.size() ? "\"..." : "\"";
  return out;
}

// The offset of the first byte that does not belong to well-formed UTF-8
// (no overlong forms, no surrogates, nothing above U+10FFFF), or -1.
long FirstBadUtf8(const unsigned char* S, size_t N) {
  size_t i = 0;
  while (i < N) {
    const unsigned char c = S[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return static_cast<long>(i);
    }
    if (i + len > N) return static_cast<long>(i);
    if (S[i + 1] < lo || S[i + 1] > hi) return static_cast<long>(i);
    for (size_t k = 2; k < len; ++k) {
      if ((S[i + k] & 0xC0) != 0x80) return static_cast<long>(i);
    }
    i += len;
  }
  return -1;
}

// The encoding a byte-order mark names, or nullptr.
const char* ForeignBom(const AnsiString& T) {
  auto at = [&](size_t i) { return i < T.size() ? static_cast<unsigned char>(T[i]) : 0x100u; };
  if (at(0) == 0xFF && at(1) == 0xFE && at(2) == 0 && at(3) == 0) return "UTF-32 (little-endian)";
  if (at(0) == 0 && at(1) == 0 && at(2) == 0xFE && at(3) == 0xFF) return "UTF-32 (big-endian)";
  if (at(0) == 0xFF && at(1) == 0xFE) return "UTF-16 (little-endian)";
  if (at(0) == 0xFE && at(1) == 0xFF) return "UTF-16 (big-endian)";
  return nullptr;
}

const char* const kPairNames[3] = {"each", "if", "unless"};
const TNodeKind kPairKinds[3] = {TNodeKind::Each, TNodeKind::If, TNodeKind::Unless};

// Names that look like control tags of other template languages: taken for
// a mistake rather than for a value of that name.
bool LooksLikeControl(const AnsiString& Name) {
  static const char* const names[] = {"elif",    "elsif",     "elseif", "endif",
                                      "endeach", "endunless", "endfor", "end"};
  for (const char* n : names) {
    if (Name == n) return true;
  }
  return false;
}

TModifier ModifierOf(const AnsiString& P) {
  static const std::pair<const char*, TModifier> mods[] = {
      {"raw", TModifier::Raw},  {"html", TModifier::Html}, {"attr", TModifier::Attr},
      {"url", TModifier::Url},  {"js", TModifier::Js},     {"css", TModifier::Css},
      {"json", TModifier::Json}};
  for (const auto& m : mods) {
    if (P == m.first) return m.second;
  }
  return TModifier::None;
}

class TParser {
 public:
  TParser(TTemplate& T, const AnsiString& Beg, const AnsiString& End)
      : T(T), FBeg(Beg), FEnd(End), FScanner(nullptr) {
    FScanner.SetVekTagBeg(Beg);
    FScanner.SetVekTagEnd(End);
    for (int i = 0; i < 3; ++i) {
      FUpper[i] = AnsiUpperCase(kPairNames[i]);
      FUpperClose[i] = AnsiUpperCase(AnsiString("/") + kPairNames[i]);
    }
  }

  void Run() {
    CheckEncoding();
    if (!FBeg.empty() && !FEnd.empty()) Scan();
    Structure();
    auto byOffset = [](const TFinding& a, const TFinding& b) { return a.Offset < b.Offset; };
    std::stable_sort(T.Errors.begin(), T.Errors.end(), byOffset);
    std::stable_sort(T.Warnings.begin(), T.Warnings.end(), byOffset);
  }

 private:
  struct TOpen {
    int Node;
    int ElseHead = -1, ElseTail = -1;  // else tags seen at this pair's level
  };
  enum TOpenState : uint8_t { osNone, osOpen, osClosed, osDegraded };

  std::string Tag(const std::string& Inner) const { return FBeg + Inner + FEnd; }
  void Error(int Offset, const std::string& Message) { T.Errors.push_back({Offset, Message}); }

  void CheckEncoding() {
    if (const char* bom = ForeignBom(T.Text)) {
      Error(0, std::string("the template is ") + bom +
                   " text, by its byte-order mark: only UTF-8 templates are read");
      return;
    }
    const size_t nul = T.Text.find('\0');
    if (nul != AnsiString::npos) {
      Error(static_cast<int>(nul),
            "a NUL byte: the producer would see the template only up to "
            "here (a UTF-16 file without a byte-order mark?)");
    }
    const size_t visible = nul == AnsiString::npos ? T.Text.size() : nul;
    const long bad = FirstBadUtf8(reinterpret_cast<const unsigned char*>(T.Text.data()), visible);
    if (bad >= 0) {
      static const char hex[] = "0123456789ABCDEF";
      const unsigned char b = static_cast<unsigned char>(T.Text[static_cast<size_t>(bad)]);
      Error(static_cast<int>(bad), std::string("not UTF-8: the byte 0x") + hex[b >> 4] +
                                       hex[b & 15] + " starts no valid sequence");
    }
  }

  int AddNode(TNodeKind Kind, int Begin, int End) {
    TNode n;
    n.Kind = Kind;
    n.Begin = Begin;
    n.End = End;
    T.Nodes.push_back(std::move(n));
    FOpenState.push_back(osNone);
    FNextElse.push_back(-1);
    return static_cast<int>(T.Nodes.size() - 1);
  }

  // Appends the else tags of one level to those of another.
  void MoveElses(int& Head, int& Tail, int FromHead, int FromTail) {
    if (FromHead < 0) return;
    if (Head < 0) {
      Head = FromHead;
    } else {
      FNextElse[static_cast<size_t>(Tail)] = FromHead;
    }
    Tail = FromTail;
  }

  // The pair on top of the stack has no closing tag where the producer looks
  // for it: it outputs nothing, its body stays part of the level around it.
  void Degrade(const char* Why) {
    const TOpen top = FOpen.back();
    FOpen.pop_back();
    TNode& n = T.Nodes[static_cast<size_t>(top.Node)];
    FOpenState[static_cast<size_t>(top.Node)] = osDegraded;
    const std::string name = kPairNames[PairIndex(n.Kind)];
    Error(n.Begin, TagText(n) + " has no closing " + Tag("/" + name) + Why);
    n.Kind = TNodeKind::Ignored;
    int& head = FOpen.empty() ? FTopElseHead : FOpen.back().ElseHead;
    int& tail = FOpen.empty() ? FTopElseTail : FOpen.back().ElseTail;
    MoveElses(head, tail, top.ElseHead, top.ElseTail);
  }

  static int PairIndex(TNodeKind K) {
    return K == TNodeKind::Each ? 0 : (K == TNodeKind::If ? 1 : 2);
  }

  std::string TagText(const TNode& N) const { return T.TagAt(N); }

  void ElseOutside(int Node, const std::string& Why) {
    Error(T.Nodes[static_cast<size_t>(Node)].Begin,
          Tag("else") + " outside " + Tag("if") + " or " + Tag("unless") + Why);
  }

  void Close(int Closer) {
    const TOpen top = FOpen.back();
    FOpen.pop_back();
    TNode& open = T.Nodes[static_cast<size_t>(top.Node)];
    FOpenState[static_cast<size_t>(top.Node)] = osClosed;
    open.Close = Closer;
    T.Nodes[static_cast<size_t>(Closer)].Kind = TNodeKind::Close;
    for (int e = top.ElseHead; e >= 0; e = FNextElse[static_cast<size_t>(e)]) {
      if (open.Kind == TNodeKind::Each) {
        ElseOutside(e, ": it stands in the body of " + TagText(open));
      } else if (open.Else < 0) {
        open.Else = e;
        T.Nodes[static_cast<size_t>(e)].Kind = TNodeKind::Else;
      } else {
        Error(T.Nodes[static_cast<size_t>(e)].Begin,
              "a second " + Tag("else") + " in " + TagText(open) + ": only the first counts");
      }
    }
  }

  void Scan() {
    const char* text = T.Text.c_str();
    const int visible = static_cast<int>(StrLen(text));
    int pos = 0;
    AnsiString before, tagText, name;
    TStringList params;
    for (;;) {
      before.clear();
      const int from = pos;
      bool found = false;
      try {
        found = FScanner.ExtractNextTag(text, pos, &before, &tagText);
      } catch (const std::overflow_error&) {
        throw EVekTemplateError(T.Name + ": the template is too large (2 GiB or more)");
      }
      const int literalEnd = from + static_cast<int>(before.size());
      if (literalEnd > from) AddNode(TNodeKind::Text, from, literalEnd);
      if (!found) {
        if (literalEnd < visible) {
          Error(literalEnd, "\"" + FBeg + "\" without a closing \"" + FEnd +
                                "\": the output would stop here, cutting " +
                                std::to_string(visible - literalEnd) +
                                " bytes: " + Excerpt(T.Text, static_cast<size_t>(literalEnd)));
        }
        break;
      }
      TVekPageProducer::ExtractTagParams(tagText, name, &params);
      OnTag(literalEnd, pos, tagText, name, params);
    }
    while (!FOpen.empty()) Degrade(": what follows is output as if the tag were not there");
    for (int e = FTopElseHead; e >= 0; e = FNextElse[static_cast<size_t>(e)]) ElseOutside(e, "");
  }

  void OnTag(int Begin, int End, const AnsiString& Text, const AnsiString& Name,
             const TStringList& Params) {
    const int node = AddNode(TNodeKind::Ignored, Begin, End);
    TNode& n = T.Nodes[static_cast<size_t>(node)];
    const size_t errorsBefore = T.Errors.size();
    const bool nested = Text.find(FBeg) != AnsiString::npos;
    if (nested) {
      Error(Begin, "this tag holds a further \"" + FBeg +
                       "\": the tag before it probably lacks "
                       "its \"" +
                       FEnd + "\"");
    }

    // Per-name counting, as the producer counts when it looks for a
    // closing tag: a tag of the same name (any letter case) opens a level.
    const AnsiString upper = AnsiUpperCase(Name);
    int same = -1, closes = -1;
    for (int i = 0; i < 3; ++i) {
      if (upper == FUpper[i]) same = i;
      if (upper == FUpperClose[i]) closes = i;
    }
    if (same >= 0) FByName[same].push_back(node);

    if (same >= 0 && Name == kPairNames[same]) {
      n.Kind = kPairKinds[same];
      if (Params.Count() != 1 || Params[0].find('=') != AnsiString::npos) {
        Error(Begin, Tag(Name) + " takes one name, as in " + Tag(Name + " items"));
      }
      if (Params.Count() > 0) n.Path = Params[0];
      FOpen.push_back({node});
      FOpenState[static_cast<size_t>(node)] = osOpen;
    } else if (closes >= 0) {
      const std::string opener = kPairNames[closes];
      if (FByName[closes].empty()) {
        Error(Begin, "closing tag " + T.TagAt(n) + " without an opening " + Tag(opener));
        return;
      }
      const int match = FByName[closes].back();
      FByName[closes].pop_back();
      if (FOpenState[static_cast<size_t>(match)] != osOpen) {
        Error(Begin, "closing tag " + T.TagAt(n) + " without an opening " + Tag(opener) +
                         " at this level: it closes " +
                         T.TagAt(T.Nodes[static_cast<size_t>(match)]) + " at " +
                         T.Where(T.Nodes[static_cast<size_t>(match)].Begin));
        return;
      }
      while (FOpen.back().Node != match) {
        Degrade((" before the end of the enclosing " + T.TagAt(T.Nodes[static_cast<size_t>(match)]))
                    .c_str());
      }
      Close(node);
    } else if (Name == "else") {
      if (Params.Count() > 0) Error(Begin, Tag("else") + " takes no parameters");
      int& head = FOpen.empty() ? FTopElseHead : FOpen.back().ElseHead;
      int& tail = FOpen.empty() ? FTopElseTail : FOpen.back().ElseTail;
      MoveElses(head, tail, node, node);
    } else if (Name == "include") {
      n.Kind = TNodeKind::Include;
      n.Path = Params.Values("file");
      n.Args = nlohmann::json::object();
      if (n.Path.empty()) {
        Error(Begin, Tag("include") + " needs the file to include, as in " +
                         Tag("include file=\"part.html\""));
      }
      for (int i = 0; i < Params.Count(); ++i) {
        const AnsiString key = Params.Names(i);
        if (key.empty() && !n.Path.empty()) {
          Error(Begin,
                Tag("include") + " takes name=value parameters only, not \"" + Params[i] + "\"");
        } else if (key != "file") {
          n.Args[key] = Params.ValueFromIndex(i);
        }
      }
    } else if (Name.empty()) {
      Error(Begin, "empty tag " + Tag("") + ": it has no name and outputs nothing");
    } else if (Name[0] == '/') {
      Error(Begin, "unknown closing tag " + T.TagAt(n) + ": only " + Tag("/each") + ", " +
                       Tag("/if") + " and " + Tag("/unless") + " close a pair");
    } else {
      n.Kind = TNodeKind::Value;
      n.Path = Name;
      bool unknown = LooksLikeControl(Name);
      for (int i = 0; i < Params.Count(); ++i) {
        const TModifier m = ModifierOf(Params[i]);
        if (m == TModifier::None) {
          unknown = true;
        } else if (n.Modifier == TModifier::None) {
          n.Modifier = m;
        } else if (n.Modifier != m) {
          Error(Begin, T.TagAt(n) + " has two modifiers: " + Params[i] + " would be ignored");
        }
      }
      if (unknown) {
        Error(Begin, "unknown tag " + T.TagAt(n) +
                         ": a value tag takes one modifier (raw, html, attr, url, js, css, "
                         "json), and the other standard tags are each, if, unless, else and "
                         "include");
      }
    }
    // A tag holding a further opening delimiter: only that finding is told.
    if (nested && T.Errors.size() > errorsBefore + 1) T.Errors.resize(errorsBefore + 1);
  }

  // The second walk: nesting depth, and the HTML context of every value.
  void Structure() {
    struct TLevel {
      int Node;
      THtmlState AtOpen, ThenEnd;
      bool SawElse = false;
    };
    std::vector<TLevel> levels;
    THtmlState state = T.StartState;
    std::string problem;
    for (size_t i = 0; i < T.Nodes.size(); ++i) {
      TNode& n = T.Nodes[i];
      switch (n.Kind) {
        case TNodeKind::Text: {
          problem.clear();
          const char* base = T.Text.data();
          if (const char* at = HtmlFeed(state, base + n.Begin, base + n.End, problem))
            Error(static_cast<int>(at - base), problem);
          break;
        }
        case TNodeKind::Value:
          Value(n, state);
          break;
        case TNodeKind::Each:
        case TNodeKind::If:
        case TNodeKind::Unless:
          levels.push_back({static_cast<int>(i), state, THtmlState()});
          if (levels.size() > T.FirstAtDepth.size()) T.FirstAtDepth.push_back(static_cast<int>(i));
          break;
        case TNodeKind::Else:
          if (!levels.empty()) {
            levels.back().ThenEnd = state;
            levels.back().SawElse = true;
            state = levels.back().AtOpen;
          }
          break;
        case TNodeKind::Close:
          if (!levels.empty()) {
            const TLevel& l = levels.back();
            const TNode& open = T.Nodes[static_cast<size_t>(l.Node)];
            const THtmlState& other =
                open.Kind == TNodeKind::Each ? l.AtOpen : (l.SawElse ? l.ThenEnd : l.AtOpen);
            if (state != other) {
              Error(open.Begin, "the HTML context is " + other.Describe() + " on one way through " +
                                    TagText(open) + " and " + state.Describe() +
                                    " on another: values after it cannot be escaped for both");
            }
            levels.pop_back();
          }
          break;
        case TNodeKind::Include:
          n.State = static_cast<int>(T.States.size());
          T.States.push_back(state);
          break;
        default:
          break;
      }
    }
    T.EndState = state;
  }

  void Value(TNode& N, THtmlState& State) {
    std::string problem;
    TEscape e = HtmlValueAt(State, problem);
    const TWrap wrap = e.Wrap;
    switch (N.Modifier) {
      case TModifier::None:
        if (!problem.empty()) Error(N.Begin, TagText(N) + ": " + problem);
        N.Escape = e;
        return;
      case TModifier::Raw:
        e.Inner = TInner::None;
        e.Wrap = TWrap::None;
        if (e.RawIsRisky) {
          T.Warnings.push_back({N.Begin, TagText(N) + " stands in " + e.Where +
                                             ": a raw value there can run script"});
        }
        break;
      case TModifier::Html:
        e.Inner = TInner::Html;
        e.Wrap = TWrap::None;
        break;
      case TModifier::Attr:
        e.Inner = TInner::None;
        e.Wrap = TWrap::Unquoted;
        break;
      case TModifier::Url:
        e.Inner = TInner::UrlComponent;
        break;
      case TModifier::Js:
        e.Inner = TInner::JsString;
        break;
      case TModifier::Css:
        e.Inner = TInner::Css;
        break;
      case TModifier::Json:
        e.Inner = TInner::JsValue;
        break;
    }
    if (N.Modifier != TModifier::Raw && N.Modifier != TModifier::Html &&
        N.Modifier != TModifier::Attr)
      e.Wrap = wrap;
    N.Escape = e;
  }

  TTemplate& T;
  AnsiString FBeg, FEnd;
  TVekPageProducer FScanner;  // its delimiters and scanner only; no handlers
  AnsiString FUpper[3], FUpperClose[3];
  std::vector<int> FByName[3];  // tags of each pair name, by the producer's count
  std::vector<TOpen> FOpen;
  std::vector<uint8_t> FOpenState;
  std::vector<int> FNextElse;
  int FTopElseHead = -1, FTopElseTail = -1;
};

}  // namespace

void TTemplate::Position(int Offset, int& Line, int& Column) const {
  const auto it = std::upper_bound(LineStarts.begin(), LineStarts.end(), Offset);
  Line = static_cast<int>(it - LineStarts.begin());
  Column = Offset - LineStarts[static_cast<size_t>(Line - 1)] + 1;
}

std::string TTemplate::Where(int Offset) const {
  int line = 0, column = 0;
  Position(Offset, line, column);
  return Name + ":" + std::to_string(line) + ":" + std::to_string(column);
}

std::string TTemplate::TagAt(const TNode& Node) const {
  const size_t kMax = 60;
  const size_t len = static_cast<size_t>(Node.End - Node.Begin);
  if (len <= kMax) return Text.substr(static_cast<size_t>(Node.Begin), len);
  return Text.substr(static_cast<size_t>(Node.Begin), kMax) + "...";
}

std::shared_ptr<const TTemplate> ParseTemplate(AnsiString Text, const AnsiString& Name,
                                               const AnsiString& Beg, const AnsiString& End,
                                               const THtmlState& Start) {
  if (Text.size() >= static_cast<size_t>(INT32_MAX))
    throw EVekTemplateError(Name + ": the template is too large (2 GiB or more)");
  auto t = std::make_shared<TTemplate>();
  t->Name = Name;
  t->Text = std::move(Text);
  t->StartState = Start;
  t->LineStarts.push_back(0);
  const AnsiString& s = t->Text;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\n' || (s[i] == '\r' && (i + 1 == s.size() || s[i + 1] != '\n')))
      t->LineStarts.push_back(static_cast<int>(i + 1));
  }
  TParser(*t, Beg, End).Run();
  return t;
}

}  // namespace vekstd
