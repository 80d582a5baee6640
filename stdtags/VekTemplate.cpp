// The template parser: one walk over the text with the producer's scanner,
// pairs matched by per-name stacks as the producer matches them, each tag's
// raw text read again for conditions, modifiers and ranges; then one pass
// that drops lines of block tags and trims at <#- and -#>, and one walk over
// the nodes for the nesting depth and the HTML context of every value and
// block. Each is linear in the text; none recurses.
#include "VekTemplate.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <stdexcept>

#include "HtmlJoin.h"
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

void SortFindings(TTemplate& T);

const int kPairs = 4;
const char* const kPairNames[kPairs] = {"each", "if", "unless", "block"};
const TNodeKind kPairKinds[kPairs] = {TNodeKind::Each, TNodeKind::If, TNodeKind::Unless,
                                      TNodeKind::Block};

// Names that look like control tags of other template languages: taken for
// a mistake rather than for a value of that name.
bool LooksLikeControl(const AnsiString& Name) {
  static const char* const names[] = {"elsif",  "elseif", "endif",   "endeach",  "endunless",
                                      "endfor", "for",    "foreach", "endblock", "end"};
  for (const char* n : names) {
    if (Name == n) return true;
  }
  return false;
}

bool IsBlankByte(char C) {
  return static_cast<unsigned char>(C) <= 32;
}

// Tags that vanish together with a line holding nothing else but blanks.
bool StandaloneName(const AnsiString& Name) {
  static const char* const names[] = {"each",    "if",    "elif", "else",    "unless", "block",
                                      "extends", "/each", "/if",  "/unless", "/block"};
  for (const char* n : names) {
    if (Name == n) return true;
  }
  return false;
}

// The second walk over the nodes: nesting depth, the HTML context of every
// value, and the states blocks and includes begin in. With a Parent, the
// blocks outside any other block begin where the Parent's block of the same
// name begins.
class TStructure {
 public:
  TStructure(TTemplate& T, const TTemplate* Parent) : T(T), FParent(Parent) {}

  void Run() {
    T.Escapes.clear();
    T.FirstAtDepth.clear();
    THtmlState state = T.StartState;
    std::string problem;
    int blocks = 0;  // open blocks
    for (size_t i = 0; i < T.Nodes.size(); ++i) {
      TNode& n = T.Nodes[i];
      const bool outside = T.Extends >= 0 && blocks == 0 && static_cast<int>(i) > T.Extends;
      switch (n.Kind) {
        case TNodeKind::Text: {
          problem.clear();
          const char* base = T.Text.data();
          if (outside) {
            for (int k = n.Begin; k < n.End; ++k) {
              if (!IsBlankByte(base[k])) {
                Warn(k,
                     "text outside any block of a template that extends a layout is never "
                     "output");
                break;
              }
            }
          }
          if (const char* at = HtmlFeed(state, base + n.Begin, base + n.End, problem))
            Error(static_cast<int>(at - base), problem);
          break;
        }
        case TNodeKind::Value:
        case TNodeKind::Include:
        case TNodeKind::Super:
          if (outside) {
            Warn(n.Begin, T.TagAt(n) +
                              " stands outside any block of a template that extends a layout: "
                              "it is never output");
          }
          if (n.Kind == TNodeKind::Value) {
            Value(n, state);
          } else if (n.Kind == TNodeKind::Include) {
            T.Includes[static_cast<size_t>(n.Extra)].State = state;
          } else if (!FBlocks.empty()) {
            Super(n, state);
          }
          break;
        case TNodeKind::Block: {
          const TNode* parent = nullptr;
          if (FParent && blocks == 0) {
            const int at = FParent->FindBlock(n.Path);
            if (at >= 0) {
              parent = &FParent->Nodes[static_cast<size_t>(at)];
              state = FParent->BlockOf(*parent).Begin;
            }
          }
          T.BlockStates[static_cast<size_t>(n.Extra)].Begin = state;
          FBlocks.push_back({static_cast<int>(i), parent});
          ++blocks;
          Open(i, state);
          break;
        }
        case TNodeKind::Each:
        case TNodeKind::If:
        case TNodeKind::Unless:
          Open(i, state);
          break;
        case TNodeKind::Elif:
        case TNodeKind::Else:
          if (!FLevels.empty()) {
            TLevel& l = FLevels.back();
            Meet(l, state);
            if (n.Kind == TNodeKind::Else) l.SawElse = true;
            state = FKept[static_cast<size_t>(l.AtOpen)];
          }
          break;
        case TNodeKind::Close:
          if (!FLevels.empty()) {
            TLevel& l = FLevels.back();
            const TNode& open = T.Nodes[static_cast<size_t>(l.Node)];
            // A loop's body and a condition without else may be passed over.
            if (open.Kind != TNodeKind::Block && (open.Kind == TNodeKind::Each || !l.SawElse))
              Meet(l, FKept[static_cast<size_t>(l.AtOpen)]);
            Meet(l, state);
            if (l.End >= 0 && !l.Told) state = FKept[static_cast<size_t>(l.End)];
            if (open.Kind == TNodeKind::Block) {
              --blocks;
              T.BlockStates[static_cast<size_t>(open.Extra)].End = state;
              const TNode* parent = FBlocks.back().Parent;
              const THtmlState& end = parent ? FParent->BlockOf(*parent).End : state;
              if (!JoinsInto(end, state)) {
                Error(open.Begin,
                      T.TagAt(open) + " ends in " + state.Describe() + " but in the layout in " +
                          end.Describe() +
                          ": what follows it there would be escaped for the wrong place");
              }
              FBlocks.pop_back();
            }
            FLevels.pop_back();
          }
          break;
        default:
          break;
      }
    }
    T.EndState = state;
  }

 private:
  // States are kept once per run of equal ones (FKept): deep nesting in one
  // place keeps one.
  struct TLevel {
    int Node;
    int AtOpen, End;  // in FKept; End is -1 until one way through has ended
    bool SawElse = false, Told = false;
  };

  int Keep(const THtmlState& S) {
    if (FKept.empty() || FKept.back() != S || FKept.back().EatsNewline != S.EatsNewline)
      FKept.push_back(S);
    return static_cast<int>(FKept.size() - 1);
  }

  void Error(int Offset, const std::string& Message) { T.Errors.push_back({Offset, Message}); }
  void Warn(int Offset, const std::string& Message) { T.Warnings.push_back({Offset, Message}); }

  // <#super#> stands for the layout's definition of the enclosing block: it
  // must stand where that begins, and leaves the state where that ends.
  void Super(const TNode& N, THtmlState& State) {
    if (!FParent) return;
    const int def = FParent->FindBlock(T.Nodes[static_cast<size_t>(FBlocks.back().Node)].Path);
    if (def < 0) return;
    const TNode& p = FParent->Nodes[static_cast<size_t>(def)];
    const THtmlState& begin = FParent->BlockOf(p).Begin;
    if (!JoinsInto(begin, State)) {
      Error(N.Begin, T.TagAt(N) + " stands in " + State.Describe() +
                         " but the layout's block begins in " + begin.Describe());
    }
    State = FParent->BlockOf(p).End;
  }

  void Open(size_t I, const THtmlState& State) {
    FLevels.push_back({static_cast<int>(I), Keep(State), -1});
    if (FLevels.size() > T.FirstAtDepth.size()) T.FirstAtDepth.push_back(static_cast<int>(I));
  }

  // One way through a pair ends in State: all ways must end in states that
  // join (JoinHtml), and L.End becomes their join.
  void Meet(TLevel& L, const THtmlState& State) {
    if (L.End < 0) {
      L.End = Keep(State);
      return;
    }
    const THtmlState& end = FKept[static_cast<size_t>(L.End)];
    if (L.Told || (State == end && State.EatsNewline == end.EatsNewline)) return;
    THtmlJoin join = JoinHtml(end, State);
    if (join.Joined) {
      L.End = Keep(join.State);
      return;
    }
    L.Told = true;
    const TNode& open = T.Nodes[static_cast<size_t>(L.Node)];
    Error(open.Begin, "the HTML context is " + join.Conflict + " through " + T.TagAt(open) +
                          ": values after it cannot be escaped for both");
  }

  void Value(TNode& N, THtmlState& State) {
    std::string problem;
    TEscape e = HtmlValueAt(State, problem);
    const TWrap wrap = e.Wrap;
    switch (N.Modifier) {
      case TModifier::None:
        if (!problem.empty()) Error(N.Begin, T.TagAt(N) + ": " + problem);
        Keep(N, std::move(e));
        return;
      case TModifier::Raw:
        e.Inner = TInner::None;
        e.Wrap = TWrap::None;
        if (e.RawIsRisky) {
          Warn(N.Begin,
               T.TagAt(N) + " stands in " + e.Where + ": a raw value there can run script");
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
    Keep(N, std::move(e));
  }

  // Values mostly share their escaping with the value before.
  void Keep(TNode& N, TEscape E) {
    if (T.Escapes.empty() || !(T.Escapes.back() == E)) T.Escapes.push_back(std::move(E));
    N.Extra = static_cast<int>(T.Escapes.size() - 1);
  }

  struct TBlock {
    int Node;
    const TNode* Parent;  // the layout's block of the same name, if placed by it
  };
  TTemplate& T;
  const TTemplate* FParent;
  std::vector<TLevel> FLevels;
  std::vector<THtmlState> FKept;
  std::vector<TBlock> FBlocks;  // the blocks open
};

class TParser {
 public:
  TParser(TTemplate& T, const AnsiString& Beg, const AnsiString& End)
      : T(T), FBeg(Beg), FEnd(End), FScanner(nullptr) {
    FScanner.SetVekTagBeg(Beg);
    FScanner.SetVekTagEnd(End);
    for (int i = 0; i < kPairs; ++i) {
      FUpper[i] = AnsiUpperCase(kPairNames[i]);
      FUpperClose[i] = AnsiUpperCase(AnsiString("/") + kPairNames[i]);
    }
  }

  void Run() {
    CheckEncoding();
    if (!FBeg.empty() && !FEnd.empty()) Scan();
    StripLines();
    ApplyTrims();
    std::sort(T.Blocks.begin(), T.Blocks.end());
    TStructure(T, nullptr).Run();
    SortFindings(T);
  }

 private:
  struct TOpen {
    int Node;
    int ElseHead = -1, ElseTail = -1;  // else and elif tags seen at this pair's level
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
    if (n.Kind == TNodeKind::Block) --FOpenBlocks;
    const std::string name = kPairNames[PairIndex(n.Kind)];
    Error(n.Begin, TagText(n) + " has no closing " + Tag("/" + name) + Why);
    n.Kind = TNodeKind::Ignored;
    int& head = FOpen.empty() ? FTopElseHead : FOpen.back().ElseHead;
    int& tail = FOpen.empty() ? FTopElseTail : FOpen.back().ElseTail;
    MoveElses(head, tail, top.ElseHead, top.ElseTail);
  }

  static int PairIndex(TNodeKind K) {
    return K == TNodeKind::Each ? 0 : K == TNodeKind::If ? 1 : K == TNodeKind::Unless ? 2 : 3;
  }

  std::string TagText(const TNode& N) const { return T.TagAt(N); }

  void ElseOutside(int Node, const std::string& Why) {
    const TNode& n = T.Nodes[static_cast<size_t>(Node)];
    const char* what = FElif.count(Node) ? "elif" : "else";
    Error(n.Begin, Tag(what) + " outside " + Tag("if") +
                       (FElif.count(Node) ? "" : ", " + Tag("unless") + " or " + Tag("each")) +
                       Why);
  }

  void Close(int Closer) {
    const TOpen top = FOpen.back();
    FOpen.pop_back();
    TNode& open = T.Nodes[static_cast<size_t>(top.Node)];
    FOpenState[static_cast<size_t>(top.Node)] = osClosed;
    if (open.Kind == TNodeKind::Block) --FOpenBlocks;
    open.Close = Closer;
    T.Nodes[static_cast<size_t>(Closer)].Kind = TNodeKind::Close;
    int last = top.Node;  // the branch the next one is chained to
    bool sawElse = false;
    for (int e = top.ElseHead; e >= 0; e = FNextElse[static_cast<size_t>(e)]) {
      TNode& b = T.Nodes[static_cast<size_t>(e)];
      const bool elif = FElif.count(e) > 0;
      if (open.Kind == TNodeKind::Block) {
        ElseOutside(e, ": it stands in the body of " + TagText(open));
      } else if (elif && open.Kind != TNodeKind::If) {
        Error(b.Begin, Tag("elif") + " belongs to " + Tag("if") + ", not to " + TagText(open));
      } else if (sawElse) {
        Error(b.Begin, std::string(elif ? "an " + Tag("elif") + " after the " + Tag("else")
                                        : "a second " + Tag("else")) +
                           " of " + TagText(open) + ": it would never be reached");
      } else {
        T.Nodes[static_cast<size_t>(last)].Else = e;
        b.Kind = elif ? TNodeKind::Elif : TNodeKind::Else;
        b.Close = Closer;
        last = e;
        sawElse = !elif;
      }
    }
  }

  // The tag's text as the scanner found it, between the delimiters.
  std::string RawText(int Begin, int End) const {
    const size_t from = static_cast<size_t>(Begin) + FBeg.size();
    return T.Text.substr(from, static_cast<size_t>(End - Begin) - FBeg.size() - FEnd.size());
  }

  void Scan() {
    const char* text = T.Text.c_str();
    const int visible = static_cast<int>(StrLen(text));
    // At most one node per tag and one per text between tags: reserved (up
    // to 4M nodes) so that the list is not copied as it grows; pages never
    // written to are never taken from the system.
    const size_t most = std::min<size_t>(
        static_cast<size_t>(visible) / (FBeg.size() + FEnd.size()) * 2 + 1, size_t(4) << 20);
    T.Nodes.reserve(most);
    FOpenState.reserve(most);
    FNextElse.reserve(most);
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
      // A comment runs to the first "--" and closing delimiter, whatever
      // tags it holds.
      const size_t inner = static_cast<size_t>(literalEnd) + FBeg.size();
      if (T.Text.compare(inner, 2, "--") == 0) {
        const size_t close = T.Text.find("--" + FEnd, inner);
        const int node = AddNode(TNodeKind::Ignored, literalEnd, pos);
        T.Nodes[static_cast<size_t>(node)].Standalone = true;
        if (close == AnsiString::npos || close >= static_cast<size_t>(visible)) {
          Error(literalEnd,
                "a comment " + Tag("-- ...") + " without its closing \"--" + FEnd + "\"");
          T.Nodes[static_cast<size_t>(node)].End = visible;
          break;
        }
        pos = static_cast<int>(close + 2 + FEnd.size());
        T.Nodes[static_cast<size_t>(node)].End = pos;
        continue;
      }
      OnTag(literalEnd, pos, tagText);
    }
    while (!FOpen.empty()) Degrade(": what follows is output as if the tag were not there");
    for (int e = FTopElseHead; e >= 0; e = FNextElse[static_cast<size_t>(e)]) ElseOutside(e, "");
  }

  // A syntax fault within a tag, at the byte Offset of its raw text.
  void TagError(int Node, int RawOffset, const std::string& Message) {
    const TNode& n = T.Nodes[static_cast<size_t>(Node)];
    Error(n.Begin + static_cast<int>(FBeg.size()) + RawOffset, TagText(n) + ": " + Message);
  }

  void OnTag(int Begin, int End, const AnsiString& Text) {
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
    // Trim markers: a '-' right after the opening or before the closing
    // delimiter.
    std::string raw = RawText(Begin, End);
    int rawBase = 0;
    if (!raw.empty() && raw[0] == '-') {
      n.TrimBefore = true;
      raw.erase(0, 1);
      rawBase = 1;
    }
    if (!raw.empty() && raw.back() == '-') {
      n.TrimAfter = true;
      raw.pop_back();
    }
    AnsiString name;
    TStringList params;
    TVekPageProducer::ExtractTagParams(raw, name, &params);
    std::vector<TToken> tokens;
    std::string problem;
    int at = 0;
    const bool tokenized = Tokenize(raw, tokens, problem, at);
    // The tokens after the name, when the name is a plain word.
    const bool plain =
        tokenized && !tokens.empty() && tokens[0].Kind == TToken::Word && tokens[0].Text == name;
    for (auto& t : tokens) t.Offset += rawBase;
    auto syntax = [&](const std::string& Message, int Offset) { TagError(node, Offset, Message); };
    n.Standalone = StandaloneName(name);
    if (!name.empty() && name != "extends") FSawTag = true;

    // Per-name counting, as the producer counts when it looks for a
    // closing tag: a tag of the same name (any letter case) opens a level.
    const AnsiString upper = AnsiUpperCase(name);
    int same = -1, closes = -1;
    for (int i = 0; i < kPairs; ++i) {
      if (upper == FUpper[i]) same = i;
      if (upper == FUpperClose[i]) closes = i;
    }
    if (same >= 0) FByName[same].push_back(node);

    if (same >= 0 && name == kPairNames[same]) {
      n.Kind = kPairKinds[same];
      FOpen.push_back({node});
      FOpenState[static_cast<size_t>(node)] = osOpen;
      if (!tokenized) {
        syntax(problem, at + rawBase);
      } else if (n.Kind == TNodeKind::If || n.Kind == TNodeKind::Unless) {
        Condition(node, tokens, plain);
      } else if (tokens.size() != 2 || !plain || tokens[1].Kind != TToken::Word) {
        Error(Begin, Tag(name) + " takes one name, as in " +
                         Tag(name + (n.Kind == TNodeKind::Each ? " items" : " content")) +
                         (n.Kind == TNodeKind::Each ? " or " + Tag("each 1..10") : ""));
      } else if (n.Kind == TNodeKind::Block) {
        n.Path = tokens[1].Text;
        n.Extra = static_cast<int>(T.BlockStates.size());
        T.BlockStates.emplace_back();
        ++FOpenBlocks;
        if (FBlockNames.count(n.Path)) {
          Error(Begin, "a second " + Tag("block " + n.Path) + ": a name names one block");
        } else {
          FBlockNames.insert(n.Path);
          T.Blocks.push_back({n.Path, node});
        }
      } else {
        EachTarget(node, tokens[1]);
      }
    } else if (closes >= 0) {
      n.Standalone = true;
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
    } else if (name == "else" || name == "elif") {
      if (name == "else" && params.Count() > 0) Error(Begin, Tag("else") + " takes no parameters");
      if (name == "elif") {
        FElif.insert(node);
        if (!tokenized) {
          syntax(problem, at + rawBase);
        } else {
          Condition(node, tokens, plain);
        }
      }
      int& head = FOpen.empty() ? FTopElseHead : FOpen.back().ElseHead;
      int& tail = FOpen.empty() ? FTopElseTail : FOpen.back().ElseTail;
      MoveElses(head, tail, node, node);
    } else if (name == "include" || name == "extends") {
      const bool include = name == "include";
      n.Kind = include ? TNodeKind::Include : TNodeKind::Extends;
      n.Path = params.Values("file");
      n.Extra = static_cast<int>(T.Includes.size());
      T.Includes.emplace_back();
      TData& args = T.Includes.back().Args;
      args = TData::object();
      if (n.Path.empty()) {
        Error(Begin, Tag(name) + " needs the file to " + (include ? "include" : "extend") +
                         ", as in " +
                         Tag(name + " file=\"" + (include ? "part" : "_layout") + ".html\""));
      }
      for (int i = 0; i < params.Count(); ++i) {
        const AnsiString key = params.Names(i);
        if (key.empty() && !n.Path.empty()) {
          Error(Begin, Tag(name) + " takes name=value parameters only, not \"" + params[i] + "\"");
        } else if (key != "file") {
          if (!include) {
            Error(Begin, Tag("extends") + " takes the file only");
            break;
          }
          args[key] = params.ValueFromIndex(i);
        }
      }
      if (!include) {
        if (T.Extends >= 0) {
          Error(Begin, "a second " + Tag("extends") + ": a template fills one layout");
          n.Kind = TNodeKind::Ignored;
        } else if (FSawTag || !FOpen.empty()) {
          Error(Begin, Tag("extends") + " must be the first tag of the template");
          n.Kind = TNodeKind::Ignored;
        } else {
          T.Extends = node;
        }
        FSawTag = true;
      }
    } else if (name == "super") {
      n.Kind = TNodeKind::Super;
      if (params.Count() > 0) Error(Begin, Tag("super") + " takes no parameters");
      if (FOpenBlocks == 0) {
        Error(Begin, Tag("super") + " outside any " + Tag("block") +
                         ": it stands for the layout's content of the block around it");
      }
    } else if (name.empty()) {
      Error(Begin, "empty tag " + Tag("") + ": it has no name and outputs nothing");
    } else if (name[0] == '/') {
      Error(Begin, "unknown closing tag " + T.TagAt(n) + ": only " + Tag("/each") + ", " +
                       Tag("/if") + ", " + Tag("/unless") + " and " + Tag("/block") +
                       " close a pair");
    } else if (LooksLikeControl(name) || !plain) {
      if (!tokenized) {
        syntax(problem, at + rawBase);
      } else {
        Error(Begin, "unknown tag " + T.TagAt(n) +
                         ": the standard tags are values (a name, then modifiers), each, if, "
                         "elif, else, unless, include, extends, block and super");
      }
    } else {
      n.Kind = TNodeKind::Value;
      n.Path = NormalizePath(name);
      if (n.Path.empty()) {
        syntax("\"" + name + "\" is not a name", tokens[0].Offset);
      } else if (tokens.size() > 1) {
        TDetails& d = DetailsFor(node);
        if (!ParseModifiers(tokens, 1, d.Mods, n.Modifier, problem, at)) syntax(problem, at);
      }
    }
    // A tag holding a further opening delimiter: only that finding is told.
    if (nested && T.Errors.size() > errorsBefore + 1) T.Errors.resize(errorsBefore + 1);
  }

  // The details of a node, made on first use.
  TDetails& DetailsFor(int Node) {
    TNode& n = T.Nodes[static_cast<size_t>(Node)];
    if (n.Lang < 0) {
      n.Lang = static_cast<int>(T.Details.size());
      T.Details.emplace_back();
    }
    return T.Details[static_cast<size_t>(n.Lang)];
  }

  void Condition(int Node, const std::vector<TToken>& Tokens, bool Plain) {
    std::string problem;
    int at = 0;
    TDetails& d = DetailsFor(Node);
    if (!Plain) {
      TagError(Node, 0, "the tag's name is not a plain word");
    } else if (!ParseCondition(Tokens, 1, d.Cond, problem, at)) {
      d.Cond.clear();
      TagError(Node, at, problem);
    }
  }

  // The target of an each: a data path, or a range FROM..TO of integers or
  // names of integers.
  void EachTarget(int Node, const TToken& Token) {
    TNode& n = T.Nodes[static_cast<size_t>(Node)];
    const std::string& w = Token.Text;
    const size_t dots = w.find("..");
    if (dots == std::string::npos) {
      n.Path = NormalizePath(w);
      if (n.Path.empty()) TagError(Node, Token.Offset, "\"" + w + "\" is not a name");
      return;
    }
    TDetails& d = DetailsFor(Node);
    d.Range = true;
    const std::string sides[2] = {w.substr(0, dots), w.substr(dots + 2)};
    TCondOp* ends[2] = {&d.From, &d.To};
    for (int i = 0; i < 2; ++i) {
      TCondOp& op = *ends[i];
      if (WordLiteral(sides[i], op.Literal)) {
        op.Kind = TCondOp::OpLiteral;
        if (!op.Literal.is_number_integer()) {
          TagError(Node, Token.Offset, "a range's ends are whole numbers, not " + sides[i]);
          return;
        }
      } else {
        op.Kind = TCondOp::OpPath;
        op.Path = NormalizePath(sides[i]);
        if (op.Path.empty()) {
          TagError(Node, Token.Offset,
                   "a range is FROM..TO, each a whole number or a name, as in 1..10");
          return;
        }
      }
    }
  }

  // Lines that hold only standalone tags and blanks vanish, line break and
  // all. One walk over the nodes; the removed stretches are then cut from
  // the text nodes at their edges.
  void StripLines() {
    std::vector<std::pair<int, int>> cuts;
    int lineStart = 0;
    bool ok = true, sawTag = false;
    const char* base = T.Text.data();
    for (const TNode& n : T.Nodes) {
      if (n.Kind != TNodeKind::Text) {
        if (n.Standalone) {
          sawTag = true;
        } else {
          ok = false;
        }
        continue;
      }
      for (int p = n.Begin; p < n.End; ++p) {
        if (base[p] == '\n') {
          if (ok && sawTag) cuts.push_back({lineStart, p + 1});
          lineStart = p + 1;
          ok = true;
          sawTag = false;
        } else if (!IsBlankByte(base[p])) {
          ok = false;
        }
      }
    }
    if (ok && sawTag && !T.Nodes.empty()) cuts.push_back({lineStart, T.Nodes.back().End});
    size_t c = 0;
    for (TNode& n : T.Nodes) {
      if (n.Kind != TNodeKind::Text) continue;
      while (c < cuts.size() && cuts[c].second <= n.Begin) ++c;
      for (size_t k = c; k < cuts.size() && cuts[k].first < n.End; ++k) {
        if (cuts[k].first <= n.Begin) n.Begin = std::min(n.End, cuts[k].second);
        if (cuts[k].second >= n.End) n.End = std::max(n.Begin, cuts[k].first);
      }
    }
  }

  // <#- drops the blanks before a tag, -#> those after it, line breaks too.
  void ApplyTrims() {
    const char* base = T.Text.data();
    for (size_t i = 0; i < T.Nodes.size(); ++i) {
      const TNode& tag = T.Nodes[i];
      if (tag.TrimBefore && i > 0 && T.Nodes[i - 1].Kind == TNodeKind::Text) {
        TNode& t = T.Nodes[i - 1];
        while (t.End > t.Begin && IsBlankByte(base[t.End - 1])) --t.End;
      }
      if (tag.TrimAfter && i + 1 < T.Nodes.size() && T.Nodes[i + 1].Kind == TNodeKind::Text) {
        TNode& t = T.Nodes[i + 1];
        while (t.Begin < t.End && IsBlankByte(base[t.Begin])) ++t.Begin;
      }
    }
  }

  TTemplate& T;
  AnsiString FBeg, FEnd;
  TVekPageProducer FScanner;  // its delimiters and scanner only; no handlers
  AnsiString FUpper[kPairs], FUpperClose[kPairs];
  std::vector<int> FByName[kPairs];  // tags of each pair name, by the producer's count
  std::vector<TOpen> FOpen;
  std::vector<uint8_t> FOpenState;
  std::vector<int> FNextElse;
  std::set<int> FElif;                // the nodes of elif tags
  std::set<std::string> FBlockNames;  // of the blocks defined
  int FOpenBlocks = 0;
  bool FSawTag = false;  // a tag before which extends may no longer stand
  int FTopElseHead = -1, FTopElseTail = -1;
};

void SortFindings(TTemplate& T) {
  auto byOffset = [](const TFinding& a, const TFinding& b) { return a.Offset < b.Offset; };
  std::stable_sort(T.Errors.begin(), T.Errors.end(), byOffset);
  std::stable_sort(T.Warnings.begin(), T.Warnings.end(), byOffset);
}

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

const TDetails& TTemplate::DetailsOf(const TNode& Node) const {
  static const TDetails none;
  return Node.Lang < 0 ? none : Details[static_cast<size_t>(Node.Lang)];
}

int TTemplate::FindBlock(const AnsiString& Name) const {
  const auto it = std::lower_bound(Blocks.begin(), Blocks.end(), std::make_pair(Name, -1));
  return it != Blocks.end() && it->first == Name ? it->second : -1;
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

std::shared_ptr<const TTemplate> PlaceBlocks(const TTemplate& T, const TTemplate& Parent) {
  auto placed = std::make_shared<TTemplate>(T);
  // Only what the second walk finds is found again.
  placed->Errors.clear();
  placed->Warnings.clear();
  TStructure(*placed, &Parent).Run();
  SortFindings(*placed);
  return placed;
}

}  // namespace vekstd
