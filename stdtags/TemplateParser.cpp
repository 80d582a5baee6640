// The parser's first walk: the text scanned once with the producer's
// scanner, a node per text and per tag, comments skipped whole, pairs
// matched by per-name stacks as the producer matches them (names compared
// upper-cased, nesting counted per name), else and elif chained to their
// pair, and each tag handed to the handler of its kind from a table. Linear
// in the text; nothing recurses.
#include "TemplateParser.h"

#include <algorithm>
#include <stdexcept>

#include "TextChecks.h"
#include "TextRoutines.h"

namespace vekstd {

namespace {

const char* const kPairNames[kPairCount] = {"each", "if", "unless", "block", "macro"};
const TNodeKind kPairKinds[kPairCount] = {TNodeKind::Each, TNodeKind::If, TNodeKind::Unless,
                                          TNodeKind::Block, TNodeKind::Macro};

// The tags of the language by name, each with its handler. Closing tags and
// values are told apart from these by their names' form.
struct TTagKind {
  const char* Name;
  void (TParser::*Handler)(TTagRead&);
};
const TTagKind kTagKinds[] = {
    {"each", &TParser::OnEach},         {"if", &TParser::OnIf},
    {"unless", &TParser::OnIf},         {"block", &TParser::OnBlock},
    {"else", &TParser::OnElse},         {"elif", &TParser::OnElse},
    {"include", &TParser::OnInclude},   {"extends", &TParser::OnExtends},
    {"super", &TParser::OnSuper},       {"set", &TParser::OnSet},
    {"verbatim", &TParser::OnVerbatim}, {"macro", &TParser::OnMacro},
    {"call", &TParser::OnCall},         {"import", &TParser::OnImport},
};

// Tags that vanish together with a line holding nothing else but blanks.
bool StandaloneName(const AnsiString& Name) {
  static const char* const names[] = {"each",     "if",    "elif",   "else",    "unless", "block",
                                      "extends",  "/each", "/if",    "/unless", "/block", "set",
                                      "verbatim", "macro", "/macro", "import"};
  for (const char* n : names) {
    if (Name == n) return true;
  }
  return false;
}

}  // namespace

const char* PairName(TPair P) {
  return kPairNames[static_cast<int>(P)];
}
TNodeKind PairKind(TPair P) {
  return kPairKinds[static_cast<int>(P)];
}

TParser::TParser(TTemplate& T, const AnsiString& Beg, const AnsiString& End,
                 const TVekExtensions* Extensions)
    : T(T), FExtensions(Extensions), FBeg(Beg), FEnd(End), FScanner(nullptr) {
  FScanner.SetVekTagBeg(Beg);
  FScanner.SetVekTagEnd(End);
  for (int i = 0; i < kPairCount; ++i) {
    FUpper[i] = AnsiUpperCase(kPairNames[i]);
    FUpperClose[i] = AnsiUpperCase(AnsiString("/") + kPairNames[i]);
  }
}

void TParser::Run() {
  for (auto& f : EncodingFindings(T.Text)) T.AddError(f.Offset, std::move(f.Message));
  if (!FBeg.empty() && !FEnd.empty()) Scan();
  std::sort(T.Blocks.begin(), T.Blocks.end());
  // Macros left without their closing tag are no macros.
  std::vector<TMacro> macros;
  for (auto& m : T.Macros) {
    TNode& n = Node(m.Node);
    if (n.Kind != TNodeKind::Macro) continue;
    n.Macro = static_cast<int>(macros.size());
    macros.push_back(std::move(m));
  }
  T.Macros = std::move(macros);
}

int TParser::AddNode(TNodeKind Kind, int Begin, int End) {
  TNode n;
  n.Kind = Kind;
  n.Begin = Begin;
  n.End = End;
  T.Nodes.push_back(std::move(n));
  FOpenState.push_back(TOpenState::None);
  FNextElse.push_back(-1);
  return static_cast<int>(T.Nodes.size() - 1);
}

// The tag's text as the scanner found it, between the delimiters.
std::string TParser::RawText(int Begin, int End) const {
  const size_t from = static_cast<size_t>(Begin) + FBeg.size();
  return T.Text.substr(from, static_cast<size_t>(End - Begin) - FBeg.size() - FEnd.size());
}

void TParser::TagError(int Node, int RawOffset, const std::string& Message) {
  const TNode& n = T.Nodes[static_cast<size_t>(Node)];
  Error(n.Begin + static_cast<int>(FBeg.size()) + RawOffset, T.TagAt(n) + ": " + Message);
}

// The details of a node, made on first use.
TDetails& TParser::DetailsFor(int Node) {
  TNode& n = T.Nodes[static_cast<size_t>(Node)];
  if (n.Details < 0) {
    n.Details = static_cast<int>(T.Details.size());
    T.Details.emplace_back();
  }
  return T.Details[static_cast<size_t>(n.Details)];
}

void TParser::Scan() {
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
  AnsiString before, tagText;
  for (;;) {
    before.clear();
    const int from = pos;
    bool found = false;
    try {
      found = FScanner.ExtractNextTag(text, pos, &before, &tagText);
    } catch (const std::overflow_error&) {
      throw EVekTemplateError({T.Name}, "the template is too large (2 GiB or more)");
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
      Node(node).Standalone = true;
      if (close == AnsiString::npos || close >= static_cast<size_t>(visible)) {
        Error(literalEnd, "a comment " + Tag("-- ...") + " without its closing \"--" + FEnd + "\"");
        Node(node).End = visible;
        break;
      }
      pos = static_cast<int>(close + 2 + FEnd.size());
      Node(node).End = pos;
      continue;
    }
    OnTag(literalEnd, pos, tagText);
    if (FResume >= 0) {
      pos = FResume;
      FResume = -1;
    }
  }
  while (!FOpen.empty()) Degrade("");
  for (int e = FTopElseHead; e >= 0; e = FNextElse[static_cast<size_t>(e)]) ElseOutside(e, "");
}

// Reads the tag once (trim markers, the producer's name and parameters, the
// words), counts it among its pair's name as the producer does, and hands it
// to its handler.
void TParser::OnTag(int Begin, int End, const AnsiString& Text) {
  TTagRead r;
  r.Node = AddNode(TNodeKind::Ignored, Begin, End);
  r.Begin = Begin;
  TNode& n = Node(r.Node);
  // A tag holding a further opening delimiter: only that finding is told.
  if (Text.find(FBeg) != AnsiString::npos) {
    Error(Begin, "this tag holds a further \"" + FBeg +
                     "\": the tag before it probably lacks its \"" + FEnd + "\"");
    FMuted = true;
  }
  // Trim markers: a '-' right after the opening or before the closing
  // delimiter.
  std::string raw = RawText(Begin, End);
  if (!raw.empty() && raw[0] == '-') {
    n.TrimBefore = true;
    raw.erase(0, 1);
    r.RawBase = 1;
  }
  if (!raw.empty() && raw.back() == '-') {
    n.TrimAfter = true;
    raw.pop_back();
  }
  TVekPageProducer::ExtractTagParams(raw, r.Name, &r.Params);
  r.Syntax = Tokenize(raw, r.Tokens);
  r.Syntax.At += r.RawBase;
  // The tokens after the name, when the name is a plain word.
  r.Plain = !r.Syntax && !r.Tokens.empty() && r.Tokens[0].Kind == TToken::TKind::Word &&
            r.Tokens[0].Text == r.Name;
  for (auto& t : r.Tokens) t.Offset += r.RawBase;
  n.Standalone = StandaloneName(r.Name);
  if (!r.Name.empty() && r.Name != "extends") FSawTag = true;

  // Per-name counting, as the producer counts when it looks for a closing
  // tag: a tag of the same name (any letter case) opens a level.
  const AnsiString upper = AnsiUpperCase(r.Name);
  int closes = -1;
  for (int i = 0; i < kPairCount; ++i) {
    if (upper == FUpper[i]) FByName[i].push_back(r.Node);
    if (upper == FUpperClose[i]) closes = i;
  }
  const TTagKind* kind = nullptr;
  for (const auto& k : kTagKinds) {
    if (r.Name == k.Name) kind = &k;
  }
  if (kind) {
    (this->*kind->Handler)(r);
  } else if (closes >= 0) {
    OnClosing(r, static_cast<TPair>(closes));
  } else {
    OnOther(r);
  }
  FMuted = false;
}

// Appends the else tags of one level to those of another.
void TParser::MoveElses(int& Head, int& Tail, int FromHead, int FromTail) {
  if (FromHead < 0) return;
  if (Head < 0) {
    Head = FromHead;
  } else {
    FNextElse[static_cast<size_t>(Tail)] = FromHead;
  }
  Tail = FromTail;
}

void TParser::OpenPair(const TTagRead& R, TNodeKind Kind) {
  Node(R.Node).Kind = Kind;
  FOpen.push_back({R.Node});
  FOpenState[static_cast<size_t>(R.Node)] = TOpenState::Open;
}

// The pair on top of the stack has no closing tag where the producer looks
// for it: it outputs nothing, its body stays part of the level around it.
void TParser::Degrade(const std::string& Why) {
  const TOpen top = FOpen.back();
  FOpen.pop_back();
  TNode& n = Node(top.Node);
  FOpenState[static_cast<size_t>(top.Node)] = TOpenState::Degraded;
  if (n.Kind == TNodeKind::Block) --FOpenBlocks;
  if (n.Kind == TNodeKind::Macro) --FOpenMacros;
  std::string name;
  for (int i = 0; i < kPairCount; ++i) {
    if (kPairKinds[i] == n.Kind) name = kPairNames[i];
  }
  Error(n.Begin, T.TagAt(n) + " has no closing " + Tag("/" + name) + Why);
  n.Kind = TNodeKind::Ignored;
  int& head = FOpen.empty() ? FTopElseHead : FOpen.back().ElseHead;
  int& tail = FOpen.empty() ? FTopElseTail : FOpen.back().ElseTail;
  MoveElses(head, tail, top.ElseHead, top.ElseTail);
}

void TParser::ElseOutside(int Node, const std::string& Why) {
  const TNode& n = T.Nodes[static_cast<size_t>(Node)];
  const bool elif = FElif.count(Node) > 0;
  Error(n.Begin, Tag(elif ? "elif" : "else") + " outside " + Tag("if") +
                     (elif ? "" : ", " + Tag("unless") + " or " + Tag("each")) + Why);
}

// The pair on top of the stack is closed by Closer: its else and elif tags
// become its branches, in order, where they may stand.
void TParser::Close(int Closer) {
  const TOpen top = FOpen.back();
  FOpen.pop_back();
  TNode& open = Node(top.Node);
  FOpenState[static_cast<size_t>(top.Node)] = TOpenState::Closed;
  if (open.Kind == TNodeKind::Block) --FOpenBlocks;
  if (open.Kind == TNodeKind::Macro) --FOpenMacros;
  open.Close = Closer;
  Node(Closer).Kind = TNodeKind::Close;
  int last = top.Node;  // the branch the next one is chained to
  bool sawElse = false;
  for (int e = top.ElseHead; e >= 0; e = FNextElse[static_cast<size_t>(e)]) {
    TNode& b = Node(e);
    const bool elif = FElif.count(e) > 0;
    if (open.Kind == TNodeKind::Block || open.Kind == TNodeKind::Macro) {
      ElseOutside(e, ": it stands in the body of " + T.TagAt(open));
    } else if (elif && open.Kind != TNodeKind::If) {
      Error(b.Begin, Tag("elif") + " belongs to " + Tag("if") + ", not to " + T.TagAt(open));
    } else if (sawElse) {
      Error(b.Begin, std::string(elif ? "an " + Tag("elif") + " after the " + Tag("else")
                                      : "a second " + Tag("else")) +
                         " of " + T.TagAt(open) + ": it would never be reached");
    } else {
      Node(last).Else = e;
      b.Kind = elif ? TNodeKind::Elif : TNodeKind::Else;
      b.Close = Closer;
      last = e;
      sawElse = !elif;
    }
  }
}

// A closing tag: it closes the last tag of its name by the producer's count,
// which must be the innermost pair open; pairs opened inside it and left
// open have no closing tag.
void TParser::OnClosing(TTagRead& R, TPair Pair) {
  TNode& n = Node(R.Node);
  n.Standalone = true;
  const std::string opener = PairName(Pair);
  std::vector<int>& byName = FByName[static_cast<int>(Pair)];
  if (byName.empty()) {
    Error(R.Begin, "closing tag " + T.TagAt(n) + " without an opening " + Tag(opener));
    return;
  }
  const int match = byName.back();
  byName.pop_back();
  const TNode& m = Node(match);
  if (FOpenState[static_cast<size_t>(match)] != TOpenState::Open) {
    Error(R.Begin, "closing tag " + T.TagAt(n) + " without an opening " + Tag(opener) +
                       " at this level: it closes " + T.TagAt(m) + " at " + T.Where(m.Begin));
    return;
  }
  while (FOpen.back().Node != match)
    Degrade(" before the end of the enclosing " + T.TagAt(Node(match)));
  Close(R.Node);
}

}  // namespace vekstd
