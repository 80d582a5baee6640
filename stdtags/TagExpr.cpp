// Tokens of a tag's text, and conditions: a shunting-yard parser into
// postfix order and a stack machine that evaluates it.
#include "TagExpr.h"

#include <cstring>

namespace vekstd {

namespace {

bool Blank(char C) {
  return static_cast<unsigned char>(C) <= 32;
}

bool OpByte(char C) {
  return C == '=' || C == '!' || C == '<' || C == '>' || C == '(' || C == ')';
}

int Precedence(TCondOp::TKind K) {
  switch (K) {
    case TCondOp::OpOr:
      return 1;
    case TCondOp::OpAnd:
      return 2;
    case TCondOp::OpNot:
      return 3;
    default:
      return 4;  // the comparisons
  }
}

bool IsComparison(TCondOp::TKind K) {
  return K >= TCondOp::OpEq;
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
      t.Kind = TToken::String;
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
      t.Kind = TToken::Op;
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

TTagFault ParseCondition(const std::vector<TToken>& Tokens, size_t From,
                         std::vector<TCondOp>& Out) {
  // The operator stack holds operators and open parentheses (Path as marker).
  struct TStacked {
    TCondOp::TKind Kind;
    bool Paren;
    int Offset;
  };
  std::vector<TStacked> ops;
  bool wantOperand = true;
  int lastOffset = 0;
  auto fail = [](const std::string& Message, int At) { return TTagFault{Message, At}; };
  for (size_t i = From; i < Tokens.size(); ++i) {
    const TToken& t = Tokens[i];
    lastOffset = t.Offset + static_cast<int>(t.Text.size());
    const bool word = t.Kind == TToken::Word;
    TCondOp::TKind binary = TCondOp::OpPath;
    if (word && t.Text == "and") {
      binary = TCondOp::OpAnd;
    } else if (word && t.Text == "or") {
      binary = TCondOp::OpOr;
    } else if (t.Kind == TToken::Op) {
      static const std::pair<const char*, TCondOp::TKind> cmp[] = {
          {"==", TCondOp::OpEq}, {"!=", TCondOp::OpNe}, {"<", TCondOp::OpLt},
          {"<=", TCondOp::OpLe}, {">", TCondOp::OpGt},  {">=", TCondOp::OpGe}};
      for (const auto& c : cmp) {
        if (t.Text == c.first) binary = c.second;
      }
    }
    if (wantOperand) {
      if (word && t.Text == "not") {
        ops.push_back({TCondOp::OpNot, false, t.Offset});
      } else if (t.Kind == TToken::Op && t.Text == "(") {
        ops.push_back({TCondOp::OpPath, true, t.Offset});
      } else if (t.Kind == TToken::String) {
        TCondOp op;
        op.Kind = TCondOp::OpLiteral;
        op.Literal = t.Text;
        Out.push_back(std::move(op));
        wantOperand = false;
      } else if (word && binary == TCondOp::OpPath) {
        TCondOp op;
        if (WordLiteral(t.Text, op.Literal)) {
          op.Kind = TCondOp::OpLiteral;
        } else {
          op.Path = NormalizePath(t.Text);
          if (op.Path.empty()) return fail("\"" + t.Text + "\" is not a name or a value", t.Offset);
        }
        Out.push_back(std::move(op));
        wantOperand = false;
      } else {
        return fail("a value is expected before \"" + t.Text + "\"", t.Offset);
      }
      continue;
    }
    // After an operand: a binary operator or a closing parenthesis.
    if (t.Kind == TToken::Op && t.Text == ")") {
      while (!ops.empty() && !ops.back().Paren) {
        Out.push_back({ops.back().Kind, {}, {}});
        ops.pop_back();
      }
      if (ops.empty()) return fail("\")\" without its \"(\"", t.Offset);
      ops.pop_back();
      continue;
    }
    if (binary == TCondOp::OpPath) {
      if (t.Kind == TToken::Op && t.Text == "=")
        return fail("\"=\" is no comparison: write \"==\"", t.Offset);
      return fail(
          "an operator (and, or, ==, !=, <, <=, >, >=) is expected before \"" + t.Text + "\"",
          t.Offset);
    }
    const int prec = Precedence(binary);
    while (!ops.empty() && !ops.back().Paren && Precedence(ops.back().Kind) >= prec) {
      if (IsComparison(binary) && IsComparison(ops.back().Kind))
        return fail("comparisons do not chain: join them with and", t.Offset);
      Out.push_back({ops.back().Kind, {}, {}});
      ops.pop_back();
    }
    ops.push_back({binary, false, t.Offset});
    wantOperand = true;
  }
  if (wantOperand) {
    return fail(Out.empty() && ops.empty() ? "a condition is expected"
                                           : "the condition ends where a value is expected",
                lastOffset);
  }
  while (!ops.empty()) {
    if (ops.back().Paren) return fail("\"(\" without its \")\"", ops.back().Offset);
    Out.push_back({ops.back().Kind, {}, {}});
    ops.pop_back();
  }
  return {};
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
  if (Op == TCondOp::OpEq) return a == b;
  if (Op == TCondOp::OpNe) return a != b;
  const bool numbers = a.is_number() && b.is_number();
  if (!numbers && !(a.is_string() && b.is_string())) {
    Mixed = true;
    return false;
  }
  switch (Op) {
    case TCondOp::OpLt:
      return a < b;
    case TCondOp::OpLe:
      return a <= b;
    case TCondOp::OpGt:
      return a > b;
    default:
      return a >= b;
  }
}

bool EvalCondition(const std::vector<TCondOp>& Ops,
                   const std::function<const TData*(const std::string&)>& Lookup,
                   const std::function<void(const std::string&)>& Mixed,
                   std::vector<const TData*>& Stack) {
  std::vector<const TData*>& stack = Stack;
  stack.clear();
  for (const TCondOp& op : Ops) {
    switch (op.Kind) {
      case TCondOp::OpPath:
        stack.push_back(Lookup(op.Path));
        break;
      case TCondOp::OpLiteral:
        stack.push_back(&op.Literal);
        break;
      case TCondOp::OpNot:
        stack.back() = Truthy(stack.back()) ? &kFalse : &kTrue;
        break;
      default: {
        const TData* b = stack.back();
        stack.pop_back();
        const TData* a = stack.back();
        bool r = false;
        if (op.Kind == TCondOp::OpAnd) {
          r = Truthy(a) && Truthy(b);
        } else if (op.Kind == TCondOp::OpOr) {
          r = Truthy(a) || Truthy(b);
        } else {
          bool mixed = false;
          r = Compare(op.Kind, a, b, mixed);
          if (mixed) Mixed(std::string(TypeName(a)) + " and " + TypeName(b));
        }
        stack.back() = r ? &kTrue : &kFalse;
        break;
      }
    }
  }
  return !stack.empty() && Truthy(stack.back());
}

}  // namespace vekstd
