// Tokens of a tag's text, and expressions: a shunting-yard parser into
// postfix order (TagEval.cpp evaluates it).
#include "TagExpr.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Suggest.h"
#include "VekExtensions.h"

namespace vekstd {

namespace {

bool Blank(char C) {
  return static_cast<unsigned char>(C) <= 32;
}

bool OpByte(char C) {
  return C == '=' || C == '!' || C == '<' || C == '>' || C == '(' || C == ')' || C == '+' ||
         C == '*' || C == '/' || C == '%' || C == ',';
}

int Precedence(TCondOp::TKind K) {
  switch (K) {
    case TCondOp::TKind::Or:
      return 1;
    case TCondOp::TKind::And:
      return 2;
    case TCondOp::TKind::Not:
      return 3;
    case TCondOp::TKind::Add:
    case TCondOp::TKind::Sub:
      return 5;
    case TCondOp::TKind::Mul:
    case TCondOp::TKind::Div:
    case TCondOp::TKind::Mod:
      return 6;
    case TCondOp::TKind::Neg:
      return 7;
    default:
      return 4;  // the comparisons and in
  }
}

bool IsComparison(TCondOp::TKind K) {
  return K >= TCondOp::TKind::Eq && K <= TCondOp::TKind::NotIn;
}

// The binary operator Tokens[I] is (Path when none). "not in" takes the
// next token too (I moves past it); a word "-1" is minus with Rest = "1".
TCondOp::TKind BinaryAt(const std::vector<TToken>& Tokens, size_t& I, size_t To,
                        std::string& Rest) {
  const TToken& t = Tokens[I];
  const bool word = t.Kind == TToken::TKind::Word;
  if (word && t.Text == "and") return TCondOp::TKind::And;
  if (word && t.Text == "or") return TCondOp::TKind::Or;
  if (word && t.Text == "in") return TCondOp::TKind::In;
  if (word && t.Text == "not" && I + 1 < To && I + 1 < Tokens.size() &&
      Tokens[I + 1].Kind == TToken::TKind::Word && Tokens[I + 1].Text == "in") {
    ++I;
    return TCondOp::TKind::NotIn;
  }
  if (word && t.Text[0] == '-') {
    Rest = t.Text.substr(1);
    return TCondOp::TKind::Sub;
  }
  if (t.Kind != TToken::TKind::Op) return TCondOp::TKind::Path;
  static const std::pair<const char*, TCondOp::TKind> table[] = {
      {"==", TCondOp::TKind::Eq}, {"!=", TCondOp::TKind::Ne}, {"<", TCondOp::TKind::Lt},
      {"<=", TCondOp::TKind::Le}, {">", TCondOp::TKind::Gt},  {">=", TCondOp::TKind::Ge},
      {"+", TCondOp::TKind::Add}, {"*", TCondOp::TKind::Mul}, {"/", TCondOp::TKind::Div},
      {"%", TCondOp::TKind::Mod}};
  for (const auto& c : table) {
    if (t.Text == c.first) return c.second;
  }
  return TCondOp::TKind::Path;
}

// A function's name: a letter, then letters, digits and _.
bool FunctionName(const std::string& W) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (W.empty() || !letter(W[0])) return false;
  for (char c : W) {
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '_') return false;
  }
  return true;
}

// Whether Tokens[I] is a word right before a "(" (no blank between): the
// name of a call.
bool CallAt(const std::vector<TToken>& Tokens, size_t I, size_t To) {
  const TToken& t = Tokens[I];
  if (t.Kind != TToken::TKind::Word || I + 1 >= To || I + 1 >= Tokens.size()) return false;
  const TToken& next = Tokens[I + 1];
  if (next.Kind != TToken::TKind::Op || next.Text != "(") return false;
  if (next.Offset != t.Offset + static_cast<int>(t.Text.size())) return false;
  return t.Text != "not" && t.Text != "and" && t.Text != "or" && t.Text != "in" && t.Text != "-";
}

// "a, b and c".
std::string Join(const std::vector<std::string>& Names) {
  std::string out;
  for (size_t i = 0; i < Names.size(); ++i) {
    if (i > 0) out += i + 1 == Names.size() ? " and " : ", ";
    out += Names[i];
  }
  return out;
}

}  // namespace

TTagFault Tokenize(const std::string& Text, std::vector<TToken>& Out) {
  size_t i = 0;
  const size_t n = Text.size();
  while (i < n) {
    const char c = Text[i];
    if (Blank(c)) {
      ++i;
      continue;
    }
    TToken t;
    t.Offset = static_cast<int>(i);
    if (c == '"' || c == '\'') {
      t.Kind = TToken::TKind::String;
      size_t j = i + 1;
      for (; j < n && Text[j] != c; ++j) {
        if (Text[j] == '\\' && j + 1 < n) ++j;
        t.Text += Text[j];
      }
      if (j >= n) {
        return {std::string("a quoted string without its closing ") + c, t.Offset};
      }
      i = j + 1;
    } else if (OpByte(c)) {
      t.Kind = TToken::TKind::Op;
      t.Text = c;
      if ((c == '=' || c == '!' || c == '<' || c == '>') && i + 1 < n && Text[i + 1] == '=')
        t.Text += '=';
      i += t.Text.size();
    } else {
      size_t j = i;
      while (j < n && !Blank(Text[j]) && !OpByte(Text[j]) && Text[j] != '"' && Text[j] != '\'') ++j;
      t.Text = Text.substr(i, j - i);
      i = j;
    }
    Out.push_back(std::move(t));
  }
  return {};
}

std::string NormalizePath(const std::string& Path) {
  if (Path == "." || Path.empty()) return Path;
  std::string out;
  out.reserve(Path.size());
  size_t i = 0;
  while (i < Path.size()) {
    const char c = Path[i];
    if (c == '[') {
      const size_t close = Path.find(']', i);
      if (close == std::string::npos || close == i + 1) return "";
      const std::string index = Path.substr(i + 1, close - i - 1);
      if (index.find_first_not_of("0123456789") != std::string::npos) return "";
      if (out.empty()) return "";
      out += '.';
      out += index;
      i = close + 1;
      if (i < Path.size() && Path[i] != '.' && Path[i] != '[') return "";
    } else if (c == ']') {
      return "";
    } else {
      out += c;
      ++i;
    }
  }
  // No empty part: "a..b", ".a", "a."
  if (out.front() == '.' || out.back() == '.' || out.find("..") != std::string::npos) return "";
  return out;
}

bool WordLiteral(const std::string& Word, TData& Out) {
  if (Word == "true" || Word == "false" || Word == "null") {
    Out = TData::parse(Word);
    return true;
  }
  const char c = Word.empty() ? 0 : Word[0];
  if (!(c == '-' || (c >= '0' && c <= '9'))) return false;
  Out = TData::parse(Word, nullptr, false);
  return !Out.is_discarded() && Out.is_number();
}

namespace {

// The shunting-yard parser of one expression: operands go to Out as they
// come, operators wait on a stack of their own until one that binds less
// tightly (or a closing parenthesis) comes.
class TExprParser {
 public:
  TExprParser(const std::vector<TToken>& Tokens, size_t From, size_t To, std::vector<TCondOp>& Out,
              const char* What, const TVekExtensions* Functions)
      : FTokens(Tokens),
        FFrom(From),
        FTo(std::min(To, Tokens.size())),
        FOut(Out),
        FWhat(What),
        FFunctions(Functions) {}

  TTagFault Run() {
    for (size_t i = FFrom; i < FTo; ++i) {
      if (const TTagFault f = FWantOperand ? Operand(i) : AfterOperand(i)) return f;
    }
    return End();
  }

 private:
  // An operator waiting, or an open parenthesis (Paren; Path as its kind);
  // a call's parenthesis counts its arguments and keeps its function's name.
  struct TStacked {
    TCondOp::TKind Kind = TCondOp::TKind::Path;
    bool Paren = false;
    int Offset = 0;
    int Args = -1;  ///< a call's arguments so far; -1 for a plain parenthesis
    std::string Name;
  };

  static TTagFault Fail(const std::string& Message, int At) { return TTagFault{Message, At}; }

  void Emit(TCondOp::TKind K) {
    TCondOp step;
    step.Kind = K;
    FOut.push_back(std::move(step));
  }

  void Push(TCondOp::TKind K, int At) {
    TStacked s;
    s.Kind = K;
    s.Offset = At;
    FOps.push_back(std::move(s));
  }

  // Where an operand is wanted: a prefix operator, a parenthesis, a literal,
  // a path or a call.
  TTagFault Operand(size_t& I) {
    const TToken& t = FTokens[I];
    const bool word = t.Kind == TToken::TKind::Word;
    const bool op = t.Kind == TToken::TKind::Op;
    if (word && t.Text == "not") {
      Push(TCondOp::TKind::Not, t.Offset);
    } else if (word && t.Text == "-") {
      Push(TCondOp::TKind::Neg, t.Offset);
    } else if (op && t.Text == "(") {
      return Open(t.Offset, -1, {});
    } else if (op && t.Text == ")" && !FOps.empty() && FOps.back().Args == 0 && I > FFrom &&
               FTokens[I - 1].Kind == TToken::TKind::Op && FTokens[I - 1].Text == "(") {
      Close(0);  // NAME(): a call of no arguments
    } else if (t.Kind == TToken::TKind::String) {
      TCondOp lit;
      lit.Kind = TCondOp::TKind::Literal;
      lit.Literal = t.Text;
      FOut.push_back(std::move(lit));
      FWantOperand = false;
    } else if (word && CallAt(FTokens, I, FTo)) {
      const bool negated = t.Text[0] == '-';
      if (negated) Push(TCondOp::TKind::Neg, t.Offset);
      ++I;  // past the "("
      return Call(t.Text.substr(negated ? 1 : 0), t.Offset + negated);
    } else if (word && t.Text != "and" && t.Text != "or" && t.Text != "in") {
      TData number;
      if (t.Text[0] == '-' && !WordLiteral(t.Text, number)) {
        // "-a": the negation of the path a.
        Push(TCondOp::TKind::Neg, t.Offset);
        return Value(t.Text.substr(1), t.Offset + 1);
      }
      return Value(t.Text, t.Offset);
    } else {
      return Fail("a value is expected before \"" + t.Text + "\"", t.Offset);
    }
    return {};
  }

  // After an operand: a binary operator, a closing parenthesis or a comma.
  TTagFault AfterOperand(size_t& I) {
    const TToken& t = FTokens[I];
    const bool op = t.Kind == TToken::TKind::Op;
    if (op && t.Text == ")") {
      ToParen();
      if (FOps.empty()) return Fail("\")\" without its \"(\"", t.Offset);
      Close(FOps.back().Args + 1);
      return {};
    }
    if (op && t.Text == ",") {
      ToParen();
      if (FOps.empty() || FOps.back().Args < 0)
        return Fail("\",\" outside the arguments of a function's call", t.Offset);
      ++FOps.back().Args;
      FWantOperand = true;
      return {};
    }
    std::string rest;  // "-1" after an operand: minus, then the operand 1
    const TCondOp::TKind binary = BinaryAt(FTokens, I, FTo, rest);
    if (binary == TCondOp::TKind::Path) {
      if (op && t.Text == "=") return Fail("\"=\" is no comparison: write \"==\"", t.Offset);
      return Fail(
          "an operator (and, or, ==, !=, <, <=, >, >=, in, +, -, *, /, %) is expected before \"" +
              t.Text + "\"",
          t.Offset);
    }
    if (const TTagFault f = Reduce(Precedence(binary), binary, t.Offset)) return f;
    Push(binary, t.Offset);
    FWantOperand = true;
    return rest.empty() ? TTagFault{} : Value(rest, t.Offset + 1);
  }

  // Pops the operators that bind at least as tightly as one of Prec.
  TTagFault Reduce(int Prec, TCondOp::TKind Binary, int At) {
    while (!FOps.empty() && !FOps.back().Paren && Precedence(FOps.back().Kind) >= Prec) {
      if (IsComparison(Binary) && IsComparison(FOps.back().Kind))
        return Fail("comparisons do not chain: join them with and", At);
      Emit(FOps.back().Kind);
      FOps.pop_back();
    }
    return {};
  }

  // Pops the operators down to the innermost parenthesis.
  void ToParen() {
    while (!FOps.empty() && !FOps.back().Paren) {
      Emit(FOps.back().Kind);
      FOps.pop_back();
    }
  }

  TTagFault Open(int At, int Args, std::string Name) {
    if (++FParens > kMaxParens) {
      return Fail("parentheses nested deeper than " + std::to_string(kMaxParens) +
                      " (the limit of an expression's nesting)",
                  At);
    }
    TStacked paren;
    paren.Paren = true;
    paren.Offset = At;
    paren.Args = Args;
    paren.Name = std::move(Name);
    FOps.push_back(std::move(paren));
    return {};
  }

  // The parenthesis on top closes: a call becomes its step.
  void Close(int Args) {
    if (FOps.back().Args >= 0) {
      TCondOp call;
      call.Kind = TCondOp::TKind::Call;
      call.Path = std::move(FOps.back().Name);
      call.Args = Args;
      FOut.push_back(std::move(call));
    }
    FOps.pop_back();
    --FParens;
    FWantOperand = false;
  }

  // An operand written as a word: a literal or a path.
  TTagFault Value(const std::string& Word, int At) {
    TCondOp op;
    if (WordLiteral(Word, op.Literal)) {
      op.Kind = TCondOp::TKind::Literal;
    } else {
      op.Path = NormalizePath(Word);
      if (op.Path.empty()) return Fail("\"" + Word + "\" is not a name or a value", At);
    }
    FOut.push_back(std::move(op));
    FWantOperand = false;
    return {};
  }

  // NAME( opens a call of a function the application registered.
  TTagFault Call(const std::string& Name, int At) {
    if (!FunctionName(Name)) return Fail("\"" + Name + "\" is no function's name", At);
    if (!FFunctions || !FFunctions->Function(Name)) {
      const std::vector<std::string> known =
          FFunctions ? FFunctions->FunctionNames() : std::vector<std::string>();
      std::string which;
      if (known.empty()) {
        which = ": the application registers none";
      } else if (known.size() <= 8) {
        which = ": the application's are " + Join(known);
      }
      return Fail("unknown function \"" + Name + "\"" + DidYouMean(Name, known) + which, At);
    }
    return Open(At, 0, Name);
  }

  TTagFault End() {
    if (FWantOperand) {
      const int last =
          FTo > FFrom ? FTokens[FTo - 1].Offset + static_cast<int>(FTokens[FTo - 1].Text.size())
                      : (FFrom < FTokens.size() ? FTokens[FFrom].Offset : 0);
      return Fail(FOut.empty() && FOps.empty()
                      ? std::string("a ") + FWhat + " is expected"
                      : std::string("the ") + FWhat + " ends where a value is expected",
                  last);
    }
    while (!FOps.empty()) {
      if (FOps.back().Paren) {
        return Fail(FOps.back().Args >= 0 ? "the call of \"" + FOps.back().Name + "\" has no \")\""
                                          : std::string("\"(\" without its \")\""),
                    FOps.back().Offset);
      }
      Emit(FOps.back().Kind);
      FOps.pop_back();
    }
    return {};
  }

  const std::vector<TToken>& FTokens;
  const size_t FFrom, FTo;
  std::vector<TCondOp>& FOut;
  const char* const FWhat;
  const TVekExtensions* const FFunctions;
  std::vector<TStacked> FOps;
  int FParens = 0;
  bool FWantOperand = true;
};

}  // namespace

TTagFault ParseExpr(const std::vector<TToken>& Tokens, size_t From, size_t To,
                    std::vector<TCondOp>& Out, const char* What, const TVekExtensions* Functions) {
  return TExprParser(Tokens, From, To, Out, What, Functions).Run();
}

TTagFault ParseCondition(const std::vector<TToken>& Tokens, size_t From, std::vector<TCondOp>& Out,
                         const TVekExtensions* Functions) {
  return ParseExpr(Tokens, From, Tokens.size(), Out, "condition", Functions);
}

}  // namespace vekstd
