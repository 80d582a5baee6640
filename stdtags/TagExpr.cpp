// Tokens of a tag's text, and expressions: a shunting-yard parser into
// postfix order (TagEval.cpp evaluates it).
#include "TagExpr.h"

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

TTagFault ParseExpr(const std::vector<TToken>& Tokens, size_t From, size_t To,
                    std::vector<TCondOp>& Out, const char* What, const TVekExtensions* Functions) {
  // The operator stack holds operators and open parentheses (Path as
  // marker); a call's parenthesis counts its arguments and keeps its name.
  struct TStacked {
    TCondOp::TKind Kind = TCondOp::TKind::Path;
    bool Paren = false;
    int Offset = 0;
    int Args = -1;  ///< a call's arguments so far; -1 for a plain parenthesis
    std::string Name;
  };
  auto Operator = [](TCondOp::TKind K, int At) {
    TStacked s;
    s.Kind = K;
    s.Offset = At;
    return s;
  };
  auto Step = [](TCondOp::TKind K) {
    TCondOp s;
    s.Kind = K;
    return s;
  };
  std::vector<TStacked> ops;
  int parens = 0;
  bool wantOperand = true;
  int lastOffset = To > From ? Tokens[To - 1].Offset + static_cast<int>(Tokens[To - 1].Text.size())
                             : (From < Tokens.size() ? Tokens[From].Offset : 0);
  auto fail = [](const std::string& Message, int At) { return TTagFault{Message, At}; };
  // Pops the operators that bind at least as tightly as one of Prec.
  auto reduce = [&](int Prec, TCondOp::TKind Binary, int At) -> TTagFault {
    while (!ops.empty() && !ops.back().Paren && Precedence(ops.back().Kind) >= Prec) {
      if (IsComparison(Binary) && IsComparison(ops.back().Kind))
        return fail("comparisons do not chain: join them with and", At);
      Out.push_back(Step(ops.back().Kind));
      ops.pop_back();
    }
    return {};
  };
  // Pops the operators down to the innermost parenthesis.
  auto toParen = [&] {
    while (!ops.empty() && !ops.back().Paren) {
      Out.push_back(Step(ops.back().Kind));
      ops.pop_back();
    }
  };
  auto open = [&](int At, int Args, std::string Name) -> TTagFault {
    if (++parens > kMaxParens) {
      return fail("parentheses nested deeper than " + std::to_string(kMaxParens) +
                      " (the limit of an expression's nesting)",
                  At);
    }
    TStacked paren = Operator(TCondOp::TKind::Path, At);
    paren.Paren = true;
    paren.Args = Args;
    paren.Name = std::move(Name);
    ops.push_back(std::move(paren));
    return {};
  };
  // The parenthesis on top closes: a call becomes its step.
  auto close = [&](int Args) {
    if (ops.back().Args >= 0) {
      TCondOp call;
      call.Kind = TCondOp::TKind::Call;
      call.Path = std::move(ops.back().Name);
      call.Args = Args;
      Out.push_back(std::move(call));
    }
    ops.pop_back();
    --parens;
    wantOperand = false;
  };
  // An operand: a literal or a path.
  auto operand = [&](const std::string& Word, int At) -> TTagFault {
    TCondOp op;
    if (WordLiteral(Word, op.Literal)) {
      op.Kind = TCondOp::TKind::Literal;
    } else {
      op.Path = NormalizePath(Word);
      if (op.Path.empty()) return fail("\"" + Word + "\" is not a name or a value", At);
    }
    Out.push_back(std::move(op));
    wantOperand = false;
    return {};
  };
  // NAME( opens a call of a function Functions has.
  auto call = [&](const std::string& Name, int At) -> TTagFault {
    if (!FunctionName(Name)) return fail("\"" + Name + "\" is no function's name", At);
    if (!Functions || !Functions->Function(Name)) {
      const std::vector<std::string> known =
          Functions ? Functions->FunctionNames() : std::vector<std::string>();
      std::string which;
      if (known.empty()) {
        which = ": the application registers none";
      } else if (known.size() <= 8) {
        which = ": the application's are " + Join(known);
      }
      return fail("unknown function \"" + Name + "\"" + DidYouMean(Name, known) + which, At);
    }
    return open(At, 0, Name);
  };
  for (size_t i = From; i < To && i < Tokens.size(); ++i) {
    const TToken& t = Tokens[i];
    const bool word = t.Kind == TToken::TKind::Word;
    const bool op = t.Kind == TToken::TKind::Op;
    if (wantOperand) {
      if (word && t.Text == "not") {
        ops.push_back(Operator(TCondOp::TKind::Not, t.Offset));
      } else if (word && t.Text == "-") {
        ops.push_back(Operator(TCondOp::TKind::Neg, t.Offset));
      } else if (op && t.Text == "(") {
        if (const TTagFault f = open(t.Offset, -1, {})) return f;
      } else if (op && t.Text == ")" && !ops.empty() && ops.back().Args == 0 && i > From &&
                 Tokens[i - 1].Kind == TToken::TKind::Op && Tokens[i - 1].Text == "(") {
        close(0);  // NAME(): a call of no arguments
      } else if (t.Kind == TToken::TKind::String) {
        TCondOp lit;
        lit.Kind = TCondOp::TKind::Literal;
        lit.Literal = t.Text;
        Out.push_back(std::move(lit));
        wantOperand = false;
      } else if (word && CallAt(Tokens, i, To)) {
        const bool negated = t.Text[0] == '-';
        if (negated) ops.push_back(Operator(TCondOp::TKind::Neg, t.Offset));
        if (const TTagFault f = call(t.Text.substr(negated ? 1 : 0), t.Offset + negated)) return f;
        ++i;  // past the "("
      } else if (word && t.Text != "and" && t.Text != "or" && t.Text != "in") {
        TData number;
        if (t.Text[0] == '-' && !WordLiteral(t.Text, number)) {
          // "-a": the negation of the path a.
          ops.push_back(Operator(TCondOp::TKind::Neg, t.Offset));
          if (const TTagFault f = operand(t.Text.substr(1), t.Offset + 1)) return f;
        } else if (const TTagFault f = operand(t.Text, t.Offset)) {
          return f;
        }
      } else {
        return fail("a value is expected before \"" + t.Text + "\"", t.Offset);
      }
      continue;
    }
    // After an operand: a binary operator, a closing parenthesis or a comma.
    if (op && t.Text == ")") {
      toParen();
      if (ops.empty()) return fail("\")\" without its \"(\"", t.Offset);
      close(ops.back().Args + 1);
      continue;
    }
    if (op && t.Text == ",") {
      toParen();
      if (ops.empty() || ops.back().Args < 0)
        return fail("\",\" outside the arguments of a function's call", t.Offset);
      ++ops.back().Args;
      wantOperand = true;
      continue;
    }
    std::string rest;  // "-1" after an operand: minus, then the operand 1
    const TCondOp::TKind binary = BinaryAt(Tokens, i, To, rest);
    if (binary == TCondOp::TKind::Path) {
      if (op && t.Text == "=") return fail("\"=\" is no comparison: write \"==\"", t.Offset);
      return fail(
          "an operator (and, or, ==, !=, <, <=, >, >=, in, +, -, *, /, %) is expected before \"" +
              t.Text + "\"",
          t.Offset);
    }
    if (const TTagFault f = reduce(Precedence(binary), binary, t.Offset)) return f;
    ops.push_back(Operator(binary, t.Offset));
    wantOperand = true;
    if (!rest.empty()) {
      if (const TTagFault f = operand(rest, t.Offset + 1)) return f;
    }
  }
  if (wantOperand) {
    return fail(Out.empty() && ops.empty()
                    ? std::string("a ") + What + " is expected"
                    : std::string("the ") + What + " ends where a value is expected",
                lastOffset);
  }
  while (!ops.empty()) {
    if (ops.back().Paren) {
      return fail(ops.back().Args >= 0 ? "the call of \"" + ops.back().Name + "\" has no \")\""
                                       : std::string("\"(\" without its \")\""),
                  ops.back().Offset);
    }
    Out.push_back(Step(ops.back().Kind));
    ops.pop_back();
  }
  return {};
}

TTagFault ParseCondition(const std::vector<TToken>& Tokens, size_t From, std::vector<TCondOp>& Out,
                         const TVekExtensions* Functions) {
  return ParseExpr(Tokens, From, Tokens.size(), Out, "condition", Functions);
}

}  // namespace vekstd
