// The parser's handlers, one per kind of tag: what a tag of that kind must
// say, and what its node holds (a condition, a loop's target, a block's
// name, an include's file and parameters, a value's path and modifiers).
#include <algorithm>
#include <string>

#include "Suggest.h"
#include "TemplateParser.h"
#include "VekExtensions.h"

namespace vekstd {

namespace {

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

const std::vector<std::string>& Keywords() {
  static const std::vector<std::string> words = {
      "each",    "if",    "elif",  "else",     "unless", "set",  "include",
      "extends", "block", "super", "verbatim", "macro",  "call", "import"};
  return words;
}

}  // namespace

// each, block: one word after the name. False (with the error) otherwise.
bool TParser::OneName(const TTagRead& R, const std::string& Example) {
  if (R.Syntax) {
    TagError(R.Node, R.Syntax.At, R.Syntax.Message);
    return false;
  }
  if (R.Tokens.size() != 2 || !R.Plain || R.Tokens[1].Kind != TToken::TKind::Word) {
    Error(R.Begin, Tag(R.Name) + " takes one name, as in " + Example);
    return false;
  }
  return true;
}

void TParser::OnEach(TTagRead& R) {
  OpenPair(R, TNodeKind::Each);
  // A named loop: each NAME in TARGET.
  const auto& t = R.Tokens;
  if (!R.Syntax && R.Plain && t.size() == 4 && t[1].Kind == TToken::TKind::Word &&
      t[2].Kind == TToken::TKind::Word && t[2].Text == "in" && t[3].Kind == TToken::TKind::Word) {
    const std::string& name = t[1].Text;
    if (name.find_first_of(".[]@") != std::string::npos || NormalizePath(name) != name) {
      TagError(R.Node, t[1].Offset, "\"" + name + "\" is no name for a loop's element");
      return;
    }
    DetailsFor(R.Node).LoopName = name;
    EachTarget(R.Node, t[3]);
    return;
  }
  if (OneName(R, Tag("each items") + ", " + Tag("each item in items") + " or " + Tag("each 1..10")))
    EachTarget(R.Node, R.Tokens[1]);
}

void TParser::OnIf(TTagRead& R) {
  OpenPair(R, R.Name == "if" ? TNodeKind::If : TNodeKind::Unless);
  if (R.Syntax) {
    TagError(R.Node, R.Syntax.At, R.Syntax.Message);
  } else {
    Condition(R.Node, R.Tokens, R.Plain);
  }
}

void TParser::OnBlock(TTagRead& R) {
  OpenPair(R, TNodeKind::Block);
  // Every block has its states, a misspelt one too: the structural pass
  // still walks it after the error.
  Node(R.Node).States = static_cast<int>(T.BlockStates.size());
  T.BlockStates.emplace_back();
  if (!OneName(R, Tag("block content"))) return;
  TNode& n = Node(R.Node);
  if (FOpenMacros > 0) {
    Error(R.Begin, T.TagAt(n) + " inside a " + Tag("macro") +
                       ": a block belongs to the page and its layouts, a macro to its callers");
    return;
  }
  n.Path = R.Tokens[1].Text;
  ++FOpenBlocks;
  if (FBlockNames.count(n.Path)) {
    Error(R.Begin, "a second " + Tag("block " + n.Path) + ": a name names one block");
  } else {
    FBlockNames.insert(n.Path);
    T.Blocks.push_back({n.Path, R.Node});
  }
}

// else and elif are kept with the pair open around them; the pair's closing
// tag decides whether they belong to it.
void TParser::OnElse(TTagRead& R) {
  if (R.Name == "else" && R.Params.Count() > 0)
    Error(R.Begin, Tag("else") + " takes no parameters");
  if (R.Name == "elif") {
    FElif.insert(R.Node);
    if (R.Syntax) {
      TagError(R.Node, R.Syntax.At, R.Syntax.Message);
    } else {
      Condition(R.Node, R.Tokens, R.Plain);
    }
  }
  int& head = FOpen.empty() ? FTopElseHead : FOpen.back().ElseHead;
  int& tail = FOpen.empty() ? FTopElseTail : FOpen.back().ElseTail;
  MoveElses(head, tail, R.Node, R.Node);
}

// The file and further parameters of an include or extends.
void TParser::IncludeArgs(TTagRead& R, bool Include) {
  TNode& n = Node(R.Node);
  n.Kind = Include ? TNodeKind::Include : TNodeKind::Extends;
  n.Path = R.Params.Values("file");
  n.Include = static_cast<int>(T.Includes.size());
  T.Includes.emplace_back();
  TData& args = T.Includes.back().Args;
  args = TData::object();
  if (n.Path.empty()) {
    Error(R.Begin, Tag(R.Name) + " needs the file to " + (Include ? "include" : "extend") +
                       ", as in " +
                       Tag(R.Name + " file=\"" + (Include ? "part" : "_layout") + ".html\""));
    return;
  }
  for (int i = 0; i < R.Params.Count(); ++i) {
    const AnsiString key = R.Params.Names(i);
    if (key.empty() && !Include) {
      Error(R.Begin,
            Tag(R.Name) + " takes name=value parameters only, not \"" + R.Params[i] + "\"");
      return;
    } else if (key != "file" && !Include) {
      Error(R.Begin, Tag("extends") + " takes the file only");
      return;
    }
  }
  if (!Include) return;
  if (R.Syntax) {
    TagError(R.Node, R.Syntax.At, R.Syntax.Message);
    return;
  }
  Args(R, 1, n.Include, true);
}

// NAME=VALUE from the tokens: quoted text stays literal, anything else is
// an expression, running to the next NAME= or the end.
void TParser::Args(const TTagRead& R, size_t From, int At, bool File) {
  const auto& t = R.Tokens;
  auto startsArg = [&](size_t i) {
    return i + 1 < t.size() && t[i].Kind == TToken::TKind::Word &&
           t[i + 1].Kind == TToken::TKind::Op && t[i + 1].Text == "=";
  };
  TIncludeAt& at = T.Includes[static_cast<size_t>(At)];
  size_t i = From;
  while (i < t.size()) {
    if (!startsArg(i)) {
      TagError(R.Node, t[i].Offset, "a parameter NAME=VALUE is expected at \"" + t[i].Text + "\"");
      return;
    }
    const std::string key = t[i].Text;
    const bool file = File && key == "file";
    size_t end = i + 2;
    if (file) {
      // The file (as the producer read it): its tokens up to a blank.
      while (end + 1 < t.size() &&
             t[end + 1].Offset == t[end].Offset + static_cast<int>(t[end].Text.size()) &&
             t[end].Kind != TToken::TKind::String)
        ++end;
      ++end;
    } else {
      while (end < t.size() && !startsArg(end)) ++end;
    }
    if (!file) {
      if (end == i + 2) {
        TagError(R.Node, t[i].Offset, "the parameter " + key + " has no value");
        return;
      }
      if (at.Args.contains(key) || std::any_of(at.Exprs.begin(), at.Exprs.end(),
                                               [&](const auto& e) { return e.first == key; })) {
        TagError(R.Node, t[i].Offset, "the parameter " + key + " is given twice");
        return;
      }
      if (end == i + 3 && t[i + 2].Kind == TToken::TKind::String) {
        at.Args[key] = t[i + 2].Text;
      } else {
        std::vector<TCondOp> expr;
        if (const TTagFault f = ParseExpr(t, i + 2, end, expr, "value", FExtensions)) {
          TagError(R.Node, f.At, f.Message);
          return;
        }
        at.Exprs.push_back({key, std::move(expr)});
      }
    }
    i = end;
  }
}

void TParser::OnInclude(TTagRead& R) {
  IncludeArgs(R, true);
  if (FOpenMacros > 0 && Node(R.Node).Kind == TNodeKind::Include) {
    // The included file would be judged anew for every place the macro is
    // called from, which check cannot follow.
    Error(R.Begin, T.TagAt(Node(R.Node)) + " inside a " + Tag("macro") +
                       ": a macro's body calls macros; import the file's macros instead");
    Node(R.Node).Kind = TNodeKind::Ignored;
  }
}

void TParser::OnExtends(TTagRead& R) {
  IncludeArgs(R, false);
  TNode& n = Node(R.Node);
  if (T.Extends >= 0) {
    Error(R.Begin, "a second " + Tag("extends") + ": a template fills one layout");
    n.Kind = TNodeKind::Ignored;
  } else if (FSawTag || !FOpen.empty()) {
    Error(R.Begin, Tag("extends") + " must be the first tag of the template");
    n.Kind = TNodeKind::Ignored;
  } else {
    T.Extends = R.Node;
  }
  FSawTag = true;
}

void TParser::OnSuper(TTagRead& R) {
  Node(R.Node).Kind = TNodeKind::Super;
  if (R.Params.Count() > 0) Error(R.Begin, Tag("super") + " takes no parameters");
  if (FOpenBlocks == 0) {
    Error(R.Begin, Tag("super") + " outside any " + Tag("block") +
                       ": it stands for the layout's content of the block around it");
  }
}

// set NAME = EXPRESSION
void TParser::OnSet(TTagRead& R) {
  TNode& n = Node(R.Node);
  const auto& t = R.Tokens;
  if (R.Syntax) {
    TagError(R.Node, R.Syntax.At, R.Syntax.Message);
    return;
  }
  if (!R.Plain || t.size() < 3 || t[1].Kind != TToken::TKind::Word ||
      t[2].Kind != TToken::TKind::Op || t[2].Text != "=") {
    Error(R.Begin,
          Tag("set") + " takes a name, \"=\" and a value, as in " + Tag("set total = price * qty"));
    return;
  }
  const std::string& name = t[1].Text;
  if (name.find_first_of(".[]@-") != std::string::npos || NormalizePath(name) != name ||
      name == "and" || name == "or" || name == "not" || name == "in") {
    TagError(R.Node, t[1].Offset, "\"" + name + "\" is no name to set: a plain word, as in total");
    return;
  }
  TDetails& d = DetailsFor(R.Node);
  if (const TTagFault f = ParseExpr(t, 3, t.size(), d.Cond, "value", FExtensions)) {
    d.Cond.clear();
    TagError(R.Node, f.At, f.Message);
    return;
  }
  d.LoopName = name;
  n.Kind = TNodeKind::Set;
}

// verbatim: the text up to the first closing tag, output as written.
void TParser::OnVerbatim(TTagRead& R) {
  if (R.Tokens.size() > 1 || R.Params.Count() > 0)
    Error(R.Begin, Tag("verbatim") + " takes no parameters");
  const int end = Node(R.Node).End;
  const std::string closer = Tag("/verbatim");
  const size_t close = T.Text.find(closer, static_cast<size_t>(end));
  if (close == AnsiString::npos) {
    Error(R.Begin, Tag("verbatim") + " has no closing " + closer);
    return;
  }
  const int at = static_cast<int>(close);
  if (at > end) AddNode(TNodeKind::Text, end, at);
  const int closing = AddNode(TNodeKind::Ignored, at, at + static_cast<int>(closer.size()));
  Node(closing).Standalone = true;
  FResume = at + static_cast<int>(closer.size());
}

// A value tag (a name, then modifiers), or a tag the language does not know.
void TParser::OnOther(TTagRead& R) {
  TNode& n = Node(R.Node);
  if (R.Name.empty()) {
    Error(R.Begin, "empty tag " + Tag("") + ": it has no name and outputs nothing");
  } else if (R.Name[0] == '/') {
    static const std::vector<std::string> closers = {"/each",  "/if",       "/unless",
                                                     "/block", "/verbatim", "/macro"};
    Error(R.Begin, "unknown closing tag " + T.TagAt(n) + DidYouMean(R.Name, closers, FBeg, FEnd) +
                       ": only " + Tag("/each") + ", " + Tag("/if") + ", " + Tag("/unless") + ", " +
                       Tag("/block") + " and " + Tag("/macro") + " close a pair");
  } else if (R.Plain && FExtensions && FExtensions->Tag(R.Name)) {
    // An application tag: a value-like node (escaped where it stands) whose
    // text the handler gives.
    n.Kind = TNodeKind::Value;
    TDetails& d = DetailsFor(R.Node);
    d.AppTag = static_cast<int>(T.AppTags.size());
    TAppTag tag;
    tag.Name = R.Name;
    for (int i = 0; i < R.Params.Count(); ++i) {
      const AnsiString key = R.Params.Names(i);
      tag.Params.emplace_back(key, key.empty() ? R.Params[i] : R.Params.ValueFromIndex(i));
    }
    T.AppTags.push_back(std::move(tag));
  } else if (LooksLikeControl(R.Name) || !R.Plain) {
    if (R.Syntax) {
      TagError(R.Node, R.Syntax.At, R.Syntax.Message);
    } else {
      Error(R.Begin,
            "unknown tag " + T.TagAt(n) + DidYouMean(R.Name, Keywords(), FBeg, FEnd) +
                ": the standard tags are values (a name, then modifiers), each, if, "
                "elif, else, unless, set, include, extends, block, super, verbatim, macro, "
                "call and import");
    }
  } else {
    n.Kind = TNodeKind::Value;
    n.Path = NormalizePath(R.Name);
    if (n.Path.empty()) {
      TagError(R.Node, R.Tokens[0].Offset, "\"" + R.Name + "\" is not a name");
    } else if (R.Tokens.size() > 1) {
      TDetails& d = DetailsFor(R.Node);
      if (const TTagFault f = ParseModifiers(R.Tokens, 1, d.Mods, n.Modifier, FExtensions)) {
        // A misspelled keyword reads as a value whose words are modifiers.
        const std::string keyword = R.Name.find('.') == std::string::npos
                                        ? DidYouMean(R.Name, Keywords(), FBeg, FEnd)
                                        : std::string();
        TagError(R.Node, f.At, f.Message + keyword);
      }
    } else if (R.Name.size() >= 4 && R.Name.find('.') == std::string::npos) {
      // A lone word near a keyword of four letters or more: a value of that
      // name renders, but check asks.
      std::vector<std::string> longer;
      for (const auto& k : Keywords()) {
        if (k.size() >= 4) longer.push_back(k);
      }
      const std::string keyword = Nearest(R.Name, longer);
      if (!keyword.empty()) {
        T.AddWarning(R.Begin, T.TagAt(n) + " is a value named \"" + R.Name + "\" (did you mean " +
                                  Tag(keyword) + "?)");
      }
    }
  }
}

void TParser::Condition(int Node, const std::vector<TToken>& Tokens, bool Plain) {
  TDetails& d = DetailsFor(Node);
  if (!Plain) {
    TagError(Node, 0, "the tag's name is not a plain word");
  } else if (const TTagFault f = ParseCondition(Tokens, 1, d.Cond, FExtensions)) {
    d.Cond.clear();
    TagError(Node, f.At, f.Message);
  }
}

// The target of an each: a data path, or a range FROM..TO of integers or
// names of integers.
void TParser::EachTarget(int Node, const TToken& Token) {
  TNode& n = T.Nodes[static_cast<size_t>(Node)];
  const std::string& w = Token.Text;
  const size_t dots = w.find("..");
  if (dots == std::string::npos) {
    n.Path = NormalizePath(w);
    if (n.Path.empty()) TagError(Node, Token.Offset, "\"" + w + "\" is not a name");
    return;
  }
  TDetails& d = DetailsFor(Node);
  d.Range.resize(2);
  const std::string sides[2] = {w.substr(0, dots), w.substr(dots + 2)};
  for (int i = 0; i < 2; ++i) {
    TCondOp& op = d.Range[static_cast<size_t>(i)];
    if (WordLiteral(sides[i], op.Literal)) {
      op.Kind = TCondOp::TKind::Literal;
      if (!op.Literal.is_number_integer()) {
        TagError(Node, Token.Offset, "a range's ends are whole numbers, not " + sides[i]);
        return;
      }
    } else {
      op.Kind = TCondOp::TKind::Path;
      op.Path = NormalizePath(sides[i]);
      if (op.Path.empty()) {
        TagError(Node, Token.Offset,
                 "a range is FROM..TO, each a whole number or a name, as in 1..10");
        return;
      }
    }
  }
}

}  // namespace vekstd
