// The words of a tag's text, and the conditions of if, elif and unless:
// tokens read from the tag's text as the scanner found it (so that quoted
// literals keep their quotes and blanks), a condition parsed into postfix
// order without recursion, and its evaluation over the data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vekstd {

using TData = nlohmann::ordered_json;

struct TToken {
  enum TKind : uint8_t {
    Word,    ///< a run of bytes that are neither blanks, quotes nor operators
    String,  ///< a quoted literal, its quotes removed and escapes applied
    Op,      ///< == != < <= > >= ( ) =
  };
  TKind Kind = Word;
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

/// One step of a condition in postfix order.
struct TCondOp {
  enum TKind : uint8_t {
    OpPath,
    OpLiteral,
    OpNot,
    OpAnd,
    OpOr,
    OpEq,
    OpNe,
    OpLt,
    OpLe,
    OpGt,
    OpGe
  };
  TKind Kind = OpPath;
  std::string Path;  ///< a Path's dotted path
  TData Literal;     ///< a Literal's value
};

/// Parses the condition Tokens[From...] (operands: paths, numbers, true,
/// false, null, quoted strings; operators by rising precedence: or, and,
/// not, then the comparisons, which do not chain; parentheses) into Out.
/// Uses an explicit operator stack, no recursion. Returns the fault of a
/// malformed condition (at a token's offset), or none.
TTagFault ParseCondition(const std::vector<TToken>& Tokens, size_t From, std::vector<TCondOp>& Out);

/// Compares A and B (null for a missing value) by Op (OpEq ... OpGe): numbers as
/// numbers, strings byte by byte (so by code point), == and != any two
/// values as JSON values (values of different types are unequal). An
/// ordering of values that are not both numbers or both strings is false,
/// and sets Mixed.
bool Compare(TCondOp::TKind Op, const TData* A, const TData* B, bool& Mixed);

/// Whether V is truthy: not missing, null, false, 0, "", [] or {}.
bool Truthy(const TData* V);

/// Evaluates the postfix condition Ops, looking paths up with Lookup
/// (nullptr for a missing value). Lookup may throw; so may Mixed, called
/// for an ordering of mixed types with a description of both.
/// Stack is scratch space, kept by the caller between calls.
bool EvalCondition(const std::vector<TCondOp>& Ops,
                   const std::function<const TData*(const std::string&)>& Lookup,
                   const std::function<void(const std::string&)>& Mixed,
                   std::vector<const TData*>& Stack);

}  // namespace vekstd
