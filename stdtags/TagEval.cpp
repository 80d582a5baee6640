// Expressions evaluated: a stack machine over the postfix steps TagExpr.cpp
// parses, arithmetic checked for overflow and division by zero.
#include <cmath>
#include <cstring>

#include "TagExpr.h"

namespace vekstd {

namespace {

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

namespace {

// A whole number of 64 bits in V, if V holds one.
// (The unsigned first: the data's pointer to a signed integer is given for
// an unsigned one too.)
inline bool Whole(const TData& V, long long& Out) {
  if (const auto* u = V.get_ptr<const TData::number_unsigned_t*>()) {
    if (*u > 0x7FFFFFFFFFFFFFFFull) return false;
    Out = static_cast<long long>(*u);
    return true;
  }
  if (const auto* i = V.get_ptr<const TData::number_integer_t*>()) {
    Out = *i;
    return true;
  }
  return false;
}

// Truthy, inline where an expression is evaluated.
inline bool IsTruthy(const TData* V) {
  if (!V) return false;
  switch (V->type()) {
    case TData::value_t::null:
      return false;
    case TData::value_t::boolean:
      return *V->get_ptr<const TData::boolean_t*>();
    case TData::value_t::number_integer:
      return *V->get_ptr<const TData::number_integer_t*>() != 0;
    case TData::value_t::number_unsigned:
      return *V->get_ptr<const TData::number_unsigned_t*>() != 0;
    case TData::value_t::number_float:
      return *V->get_ptr<const TData::number_float_t*>() != 0;
    case TData::value_t::string:
      return !V->get_ptr<const TData::string_t*>()->empty();
    case TData::value_t::array:
    case TData::value_t::object:
      return !V->empty();
    default:
      return true;
  }
}

}  // namespace

bool Truthy(const TData* V) {
  return IsTruthy(V);
}

bool Compare(TCondOp::TKind Op, const TData* A, const TData* B, bool& Mixed) {
  static const TData null;
  const TData& a = A ? *A : null;
  const TData& b = B ? *B : null;
  Mixed = false;
  long long x = 0, y = 0;
  if (Whole(a, x) && Whole(b, y)) {
    // Two whole numbers of 64 signed bits (the most common comparison),
    // without the data's general ordering.
    switch (Op) {
      case TCondOp::TKind::Eq:
        return x == y;
      case TCondOp::TKind::Ne:
        return x != y;
      case TCondOp::TKind::Lt:
        return x < y;
      case TCondOp::TKind::Le:
        return x <= y;
      case TCondOp::TKind::Gt:
        return x > y;
      default:
        return x >= y;
    }
  }
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
  if (Results.capacity() < Ops.size()) Results.reserve(Ops.size());
  std::string why;
  for (const TCondOp& op : Ops) {
    switch (op.Kind) {
      case TCondOp::TKind::Path:
        stack.push_back(Hooks.Lookup(op));
        break;
      case TCondOp::TKind::Literal:
        stack.push_back(&op.Literal);
        break;
      case TCondOp::TKind::Not:
        stack.back() = IsTruthy(stack.back()) ? &kFalse : &kTrue;
        break;
      case TCondOp::TKind::Call: {
        const size_t n = static_cast<size_t>(op.Args);
        Results.emplace_back();
        Hooks.Call(op.Path, stack.data() + (stack.size() - n), n, Results.back());
        stack.resize(stack.size() - n);
        stack.push_back(&Results.back());
        break;
      }
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
          r = IsTruthy(a) && IsTruthy(b);
        } else if (op.Kind == TCondOp::TKind::Or) {
          r = IsTruthy(a) || IsTruthy(b);
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
