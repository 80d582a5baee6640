// Tokens of a tag's text, and expressions: a shunting-yard parser into
// postfix order and a stack machine that evaluates it, arithmetic checked
// for overflow and division by zero.
#include "TagExpr.h"

#include <cmath>
#include <cstring>

namespace vekstd {

namespace {

bool Blank(char C) {
  return static_cast<unsigned char>(C) <= 32;
}

bool OpByte(char C) {
  return C == '=' || C == '!' || C == '<' || C == '>' || C == '(' || C == ')' || C == '+' ||
         C == '*' || C == '/' || C == '%';
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

const TData kTrue = true;
const TData kFalse = false;

const char* TypeName(const TData* V) {
  if (!V || V->is_null()) return "null";
  if (V->is_number()) return "a number";
  if (V->is_string()) return "a string";
  if (V->is_boolean()) return "a boolean";
  if (V->is_array()) return "a list";
  return "an object";
}

const char* Symbol(TCondOp::TKind K) {
  switch (K) {
    case TCondOp::TKind::Add:
      return "+";
    case TCondOp::TKind::Sub:
    case TCondOp::TKind::Neg:
      return "-";
    case TCondOp::TKind::Mul:
      return "*";
    case TCondOp::TKind::Div:
      return "/";
    default:
      return "%";
  }
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
                    std::vector<TCondOp>& Out, const char* What) {
  // The operator stack holds operators and open parentheses (Path as marker).
  struct TStacked {
    TCondOp::TKind Kind;
    bool Paren;
    int Offset;
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
      Out.push_back({ops.back().Kind, {}, {}});
      ops.pop_back();
    }
    return {};
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
  for (size_t i = From; i < To && i < Tokens.size(); ++i) {
    const TToken& t = Tokens[i];
    const bool word = t.Kind == TToken::TKind::Word;
    const bool op = t.Kind == TToken::TKind::Op;
    if (wantOperand) {
      if (word && t.Text == "not") {
        ops.push_back({TCondOp::TKind::Not, false, t.Offset});
      } else if (word && t.Text == "-") {
        ops.push_back({TCondOp::TKind::Neg, false, t.Offset});
      } else if (op && t.Text == "(") {
        if (++parens > kMaxParens) {
          return fail("parentheses nested deeper than " + std::to_string(kMaxParens) +
                          " (the limit of an expression's nesting)",
                      t.Offset);
        }
        ops.push_back({TCondOp::TKind::Path, true, t.Offset});
      } else if (t.Kind == TToken::TKind::String) {
        TCondOp lit;
        lit.Kind = TCondOp::TKind::Literal;
        lit.Literal = t.Text;
        Out.push_back(std::move(lit));
        wantOperand = false;
      } else if (word && t.Text != "and" && t.Text != "or" && t.Text != "in") {
        TData number;
        if (t.Text[0] == '-' && !WordLiteral(t.Text, number)) {
          // "-a": the negation of the path a.
          ops.push_back({TCondOp::TKind::Neg, false, t.Offset});
          if (const TTagFault f = operand(t.Text.substr(1), t.Offset + 1)) return f;
        } else if (const TTagFault f = operand(t.Text, t.Offset)) {
          return f;
        }
      } else {
        return fail("a value is expected before \"" + t.Text + "\"", t.Offset);
      }
      continue;
    }
    // After an operand: a binary operator or a closing parenthesis.
    if (op && t.Text == ")") {
      while (!ops.empty() && !ops.back().Paren) {
        Out.push_back({ops.back().Kind, {}, {}});
        ops.pop_back();
      }
      if (ops.empty()) return fail("\")\" without its \"(\"", t.Offset);
      ops.pop_back();
      --parens;
      continue;
    }
    TCondOp::TKind binary = TCondOp::TKind::Path;
    std::string rest;  // "-1" after an operand: minus, then the operand 1
    if (word && t.Text == "and") {
      binary = TCondOp::TKind::And;
    } else if (word && t.Text == "or") {
      binary = TCondOp::TKind::Or;
    } else if (word && t.Text == "in") {
      binary = TCondOp::TKind::In;
    } else if (word && t.Text == "not" && i + 1 < To && i + 1 < Tokens.size() &&
               Tokens[i + 1].Kind == TToken::TKind::Word && Tokens[i + 1].Text == "in") {
      binary = TCondOp::TKind::NotIn;
      ++i;
    } else if (word && t.Text[0] == '-') {
      binary = TCondOp::TKind::Sub;
      rest = t.Text.substr(1);
    } else if (op) {
      static const std::pair<const char*, TCondOp::TKind> table[] = {
          {"==", TCondOp::TKind::Eq}, {"!=", TCondOp::TKind::Ne}, {"<", TCondOp::TKind::Lt},
          {"<=", TCondOp::TKind::Le}, {">", TCondOp::TKind::Gt},  {">=", TCondOp::TKind::Ge},
          {"+", TCondOp::TKind::Add}, {"*", TCondOp::TKind::Mul}, {"/", TCondOp::TKind::Div},
          {"%", TCondOp::TKind::Mod}};
      for (const auto& c : table) {
        if (t.Text == c.first) binary = c.second;
      }
    }
    if (binary == TCondOp::TKind::Path) {
      if (op && t.Text == "=") return fail("\"=\" is no comparison: write \"==\"", t.Offset);
      return fail(
          "an operator (and, or, ==, !=, <, <=, >, >=, in, +, -, *, /, %) is expected before \"" +
              t.Text + "\"",
          t.Offset);
    }
    if (const TTagFault f = reduce(Precedence(binary), binary, t.Offset)) return f;
    ops.push_back({binary, false, t.Offset});
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
    if (ops.back().Paren) return fail("\"(\" without its \")\"", ops.back().Offset);
    Out.push_back({ops.back().Kind, {}, {}});
    ops.pop_back();
  }
  return {};
}

TTagFault ParseCondition(const std::vector<TToken>& Tokens, size_t From,
                         std::vector<TCondOp>& Out) {
  return ParseExpr(Tokens, From, Tokens.size(), Out, "condition");
}

bool Truthy(const TData* V) {
  if (!V) return false;
  switch (V->type()) {
    case TData::value_t::null:
      return false;
    case TData::value_t::boolean:
      return V->get<bool>();
    case TData::value_t::number_integer:
      return V->get<TData::number_integer_t>() != 0;
    case TData::value_t::number_unsigned:
      return V->get<TData::number_unsigned_t>() != 0;
    case TData::value_t::number_float:
      return V->get<TData::number_float_t>() != 0;
    case TData::value_t::string:
      return !V->get_ref<const TData::string_t&>().empty();
    case TData::value_t::array:
    case TData::value_t::object:
      return !V->empty();
    default:
      return true;
  }
}

bool Compare(TCondOp::TKind Op, const TData* A, const TData* B, bool& Mixed) {
  static const TData null;
  const TData& a = A ? *A : null;
  const TData& b = B ? *B : null;
  Mixed = false;
  if (Op == TCondOp::TKind::Eq) return a == b;
  if (Op == TCondOp::TKind::Ne) return a != b;
  const bool numbers = a.is_number() && b.is_number();
  if (!numbers && !(a.is_string() && b.is_string())) {
    Mixed = true;
    return false;
  }
  switch (Op) {
    case TCondOp::TKind::Lt:
      return a < b;
    case TCondOp::TKind::Le:
      return a <= b;
    case TCondOp::TKind::Gt:
      return a > b;
    default:
      return a >= b;
  }
}

namespace {

// A whole number of 64 bits in V, if V holds one.
bool Whole(const TData& V, long long& Out) {
  if (V.is_number_unsigned()) {
    if (V.get<unsigned long long>() > 0x7FFFFFFFFFFFFFFFull) return false;
    Out = static_cast<long long>(V.get<unsigned long long>());
    return true;
  }
  if (V.is_number_integer()) {
    Out = V.get<long long>();
    return true;
  }
  return false;
}

// "a in b": an element of a list, a key of an object, a part of a string.
bool Contains(const TData* A, const TData* B, bool& Mixed) {
  Mixed = false;
  static const TData null;
  const TData& a = A ? *A : null;
  if (!B || B->is_null()) return false;
  if (B->is_array()) {
    for (const TData& e : *B) {
      if (e == a) return true;
    }
    return false;
  }
  if (B->is_object() && a.is_string()) return B->contains(a.get_ref<const TData::string_t&>());
  if (B->is_string() && a.is_string()) {
    return B->get_ref<const TData::string_t&>().find(a.get_ref<const TData::string_t&>()) !=
           std::string::npos;
  }
  Mixed = true;
  return false;
}

// The arithmetic of A and B (B unused by Neg) into Out; false with the
// fault in Why.
bool Arithmetic(TCondOp::TKind K, const TData* A, const TData* B, TData& Out, std::string& Why) {
  const bool unary = K == TCondOp::TKind::Neg;
  if (!A || !A->is_number() || (!unary && (!B || !B->is_number()))) {
    Why = std::string("\"") + Symbol(K) + "\" takes numbers, not " + TypeName(A) +
          (unary ? "" : std::string(" and ") + TypeName(B));
    return false;
  }
  long long a = 0, b = 0, r = 0;
  const bool wholeA = Whole(*A, a);
  const bool wholeB = unary || Whole(*B, b);
  const bool bigA = A->is_number_unsigned() && !wholeA;
  const bool bigB = !unary && B->is_number_unsigned() && !wholeB;
  auto overflow = [K] {
    return std::string("\"") + Symbol(K) +
           "\" goes beyond the whole numbers of 64 bits "
           "(-9223372036854775808 to 9223372036854775807)";
  };
  if (wholeA && wholeB) {
    bool over = false;
    switch (K) {
      case TCondOp::TKind::Neg:
        over = __builtin_sub_overflow(0LL, a, &r);
        break;
      case TCondOp::TKind::Add:
        over = __builtin_add_overflow(a, b, &r);
        break;
      case TCondOp::TKind::Sub:
        over = __builtin_sub_overflow(a, b, &r);
        break;
      case TCondOp::TKind::Mul:
        over = __builtin_mul_overflow(a, b, &r);
        break;
      case TCondOp::TKind::Div:
      case TCondOp::TKind::Mod:
        if (b == 0) {
          Why = K == TCondOp::TKind::Div ? "division by zero" : "\"%\" by zero";
          return false;
        }
        if (b == -1) {
          // The one quotient that overflows: the least number by -1.
          if (K == TCondOp::TKind::Mod) {
            r = 0;
          } else {
            over = __builtin_sub_overflow(0LL, a, &r);
          }
        } else if (K == TCondOp::TKind::Mod) {
          r = a % b;
        } else if (a % b == 0) {
          r = a / b;
        } else {
          Out = static_cast<double>(a) / static_cast<double>(b);
          return true;
        }
        break;
      default:
        break;
    }
    if (over) {
      Why = overflow();
      return false;
    }
    Out = r;
    return true;
  }
  if (bigA || bigB) {
    // A whole number beyond 64 signed bits: no exact arithmetic for it.
    Why = overflow();
    return false;
  }
  const double x = A->get<double>(), y = unary ? 0.0 : B->get<double>();
  double d = 0;
  switch (K) {
    case TCondOp::TKind::Neg:
      d = -x;
      break;
    case TCondOp::TKind::Add:
      d = x + y;
      break;
    case TCondOp::TKind::Sub:
      d = x - y;
      break;
    case TCondOp::TKind::Mul:
      d = x * y;
      break;
    default:
      if (y == 0) {
        Why = K == TCondOp::TKind::Div ? "division by zero" : "\"%\" by zero";
        return false;
      }
      d = K == TCondOp::TKind::Div ? x / y : std::fmod(x, y);
      break;
  }
  if (!std::isfinite(d)) {
    Why = std::string("\"") + Symbol(K) + "\" goes beyond the numbers a double holds";
    return false;
  }
  Out = d;
  return true;
}

}  // namespace

const TData* EvalExpr(const std::vector<TCondOp>& Ops, TEvalHooks& Hooks,
                      std::vector<const TData*>& Stack, std::vector<TData>& Results) {
  std::vector<const TData*>& stack = Stack;
  stack.clear();
  // Reserved so that no result moves while the expression is evaluated.
  Results.clear();
  Results.reserve(Ops.size());
  std::string why;
  for (const TCondOp& op : Ops) {
    switch (op.Kind) {
      case TCondOp::TKind::Path:
        stack.push_back(Hooks.Lookup(op.Path));
        break;
      case TCondOp::TKind::Literal:
        stack.push_back(&op.Literal);
        break;
      case TCondOp::TKind::Not:
        stack.back() = Truthy(stack.back()) ? &kFalse : &kTrue;
        break;
      case TCondOp::TKind::Neg:
        Results.emplace_back();
        if (!Arithmetic(op.Kind, stack.back(), nullptr, Results.back(), why)) Hooks.Fault(why);
        stack.back() = &Results.back();
        break;
      default: {
        const TData* b = stack.back();
        stack.pop_back();
        const TData* a = stack.back();
        if (op.Kind >= TCondOp::TKind::Add) {
          Results.emplace_back();
          if (!Arithmetic(op.Kind, a, b, Results.back(), why)) Hooks.Fault(why);
          stack.back() = &Results.back();
          break;
        }
        bool r = false;
        if (op.Kind == TCondOp::TKind::And) {
          r = Truthy(a) && Truthy(b);
        } else if (op.Kind == TCondOp::TKind::Or) {
          r = Truthy(a) || Truthy(b);
        } else if (op.Kind == TCondOp::TKind::In || op.Kind == TCondOp::TKind::NotIn) {
          bool mixed = false;
          r = Contains(a, b, mixed);
          if (mixed) {
            Hooks.Mixed(std::string("cannot look for ") + TypeName(a) + " in " + TypeName(b));
          }
          if (op.Kind == TCondOp::TKind::NotIn) r = !r;
        } else {
          bool mixed = false;
          r = Compare(op.Kind, a, b, mixed);
          if (mixed)
            Hooks.Mixed(std::string("cannot order ") + TypeName(a) + " and " + TypeName(b));
        }
        stack.back() = r ? &kTrue : &kFalse;
        break;
      }
    }
  }
  return stack.empty() ? nullptr : stack.back();
}

bool EvalCondition(const std::vector<TCondOp>& Ops, TEvalHooks& Hooks,
                   std::vector<const TData*>& Stack, std::vector<TData>& Results) {
  return !Ops.empty() && Truthy(EvalExpr(Ops, Hooks, Stack, Results));
}

}  // namespace vekstd
