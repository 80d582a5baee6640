// The words of a tag's text, and the expressions of if, elif, unless, set
// and arguments: tokens read from the tag's text as the scanner found it (so
// that quoted literals keep their quotes and blanks), an expression parsed
// into postfix order without recursion, and its evaluation over the data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

class TVekExtensions;

namespace vekstd {

using TData = nlohmann::ordered_json;

struct TToken {
  enum class TKind : uint8_t {
    Word,    ///< a run of bytes that are neither blanks, quotes nor operators
    String,  ///< a quoted literal, its quotes removed and escapes applied
    Op,      ///< == != < <= > >= ( ) = + * / % ,  (a "-" stays in its word)
  };
  TKind Kind = TKind::Word;
  std::string Text;
  int Offset = 0;  ///< of its first byte, within the text given to Tokenize
};

/// A fault found in a tag's text: what is wrong, and the offset where it
/// stands within the text the parser was given. None when Message is empty.
struct TTagFault {
  std::string Message;
  int At = 0;
  explicit operator bool() const { return !Message.empty(); }
};

/// Splits Text into tokens, appended to Out. A string is quoted with " or ',
/// and a backslash in it takes the next byte as it is. Returns the fault of
/// a quote that is not closed, or none.
TTagFault Tokenize(const std::string& Text, std::vector<TToken>& Out);

/// A path as written ("items[0].name" or "items.0.name") in the dotted form
/// that lookups use ("items.0.name"); "" when it is malformed.
std::string NormalizePath(const std::string& Path);

/// A literal written as a word (a JSON number, true, false or null) into
/// Out; false when Word is none of those.
bool WordLiteral(const std::string& Word, TData& Out);

/// One step of an expression in postfix order.
struct TCondOp {
  enum class TKind : uint8_t {
    Path,
    Literal,
    Not,
    Neg,  ///< unary minus
    And,
    Or,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    In,     ///< list membership, an object's key, a substring
    NotIn,  ///< not in
    Add,
    Sub,
    Mul,
    Div,
    Mod,
    Call,  ///< a custom function of Args values, named by Path
  };
  TKind Kind = TKind::Path;
  std::string Path;  ///< a Path's dotted path; a Call's function
  TData Literal;     ///< a Literal's value
  int Args = 0;      ///< a Call's count of arguments
};

/// The deepest an expression's parentheses may nest.
constexpr int kMaxParens = 64;

/// Parses the expression Tokens[From, To) (operands: paths, numbers, true,
/// false, null, quoted strings; operators by rising precedence: or, and,
/// not, the comparisons and in (which do not chain), + and -, * / and %,
/// unary minus; parentheses, at most kMaxParens deep, counting the calls
/// of Functions' functions, NAME(ARG, ...) with no blank before the "(")
/// into Out. A "-" at the start of a word is an operator ("a - 1", "a -1",
/// "-a"); inside a word it is part of the name ("first-name"). Uses an
/// explicit operator stack, no recursion. Returns the fault of a malformed
/// expression or of a function Functions (may be null) does not have (at a
/// token's offset), or none. What names the expression as a whole in
/// messages ("condition", "value").
TTagFault ParseExpr(const std::vector<TToken>& Tokens, size_t From, size_t To,
                    std::vector<TCondOp>& Out, const char* What = "value",
                    const TVekExtensions* Functions = nullptr);

/// ParseExpr of Tokens[From...], named a condition in messages.
TTagFault ParseCondition(const std::vector<TToken>& Tokens, size_t From, std::vector<TCondOp>& Out,
                         const TVekExtensions* Functions = nullptr);

/// Compares A and B (null for a missing value) by Op (Eq ... Ge): numbers as
/// numbers, strings byte by byte (so by code point), == and != any two
/// values as JSON values (values of different types are unequal). An
/// ordering of values that are not both numbers or both strings is false,
/// and sets Mixed.
bool Compare(TCondOp::TKind Op, const TData* A, const TData* B, bool& Mixed);

/// Whether V is truthy: not missing, null, false, 0, "", [] or {}.
bool Truthy(const TData* V);

/// What an evaluation asks of its caller (virtual, not std::function: an
/// expression is evaluated for every element of a loop).
class TEvalHooks {
 public:
  /// The value at the dotted path of Op (a Path step of the expression
  /// evaluated, the same object each time it is evaluated), or nullptr when
  /// missing. May throw.
  virtual const TData* Lookup(const TCondOp& Op) = 0;
  /// Told of an ordering or an "in" of types that give no answer (the
  /// answer is false), with what was asked ("cannot order a string and a
  /// number"). May throw.
  virtual void Mixed(const std::string& What) = 0;
  /// Told of a fault that leaves no value: division by zero, an integer
  /// overflow, arithmetic on what is not a number. Must throw.
  virtual void Fault(const std::string& What) = 0;
  /// The value of the custom function Name of Count arguments Args (each
  /// null for a missing value), into Out. May throw.
  virtual void Call(const std::string& Name, const TData* const* Args, size_t Count,
                    TData& Out) = 0;

 protected:
  ~TEvalHooks() = default;
};

/// Evaluates the postfix expression Ops. Integers stay integers (64 bits;
/// beyond is a fault), a "/" of integers that does not divide gives a
/// decimal, "%" keeps the dividend's sign. Stack and Results are scratch
/// space kept by the caller between calls; the value returned lives in
/// Results, in Ops, or wherever Lookup found it, until the next call.
const TData* EvalExpr(const std::vector<TCondOp>& Ops, TEvalHooks& Hooks,
                      std::vector<const TData*>& Stack, std::vector<TData>& Results);

/// Whether the value of the postfix expression Ops holds (Truthy).
bool EvalCondition(const std::vector<TCondOp>& Ops, TEvalHooks& Hooks,
                   std::vector<const TData*>& Stack, std::vector<TData>& Results);

}  // namespace vekstd
