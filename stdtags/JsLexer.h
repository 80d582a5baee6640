// The JavaScript lexer of the HTML context tokenizer: just precise enough to
// tell string literals, template literals and comments from expressions.
#pragma once

#include <cstdint>
#include <string>

namespace vekstd {

/// Where the lexer stands within a script or an event handler.
enum class TJsMode : uint8_t {
  Expr,          ///< code: a value here is an expression
  SingleQuote,   ///< inside '...'
  DoubleQuote,   ///< inside "..."
  Template,      ///< inside `...`, outside any ${...}
  LineComment,   ///< after //
  BlockComment,  ///< inside /* ... */
};

/// A byte whose meaning depends on the next one.
enum class TJsPending : uint8_t {
  None,
  Backslash,  ///< in a literal: the next byte is escaped
  Slash,      ///< in code: '/' may begin a comment
  Star,       ///< in a block comment: '*' may end it
  Dollar,     ///< in a template literal: '$' may begin ${
};

/// The lexer's state. Compared as a whole (the branches of a condition must
/// end alike).
struct TJsState {
  static constexpr uint8_t kMaxTemplateDepth = 8;

  TJsMode Mode = TJsMode::Expr;
  TJsPending Pending = TJsPending::None;
  uint8_t TemplateDepth = 0;               ///< open ${ of template literals
  uint8_t Braces[kMaxTemplateDepth] = {};  ///< open braces per ${ level

  bool operator==(const TJsState& O) const;
  bool operator!=(const TJsState& O) const { return !(*this == O); }
  /// Appends the state as bytes, for cache keys.
  void AppendKey(std::string& Key) const;
  /// Forgets a pending byte: a value stands between it and the next one.
  void BreakPending() { Pending = TJsPending::None; }
};

/// Advances State over one byte of JavaScript.
void JsStep(TJsState& State, unsigned char C);

}  // namespace vekstd
