// The JavaScript lexer of the HTML context tokenizer: tells string literals,
// template literals, regular-expression literals and comments from code, and
// in code whether a '/' would divide or begin a regular expression.
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
  Regexp,        ///< inside /.../ of a regular-expression literal
  RegexpClass,   ///< inside [...] of a regular-expression literal
  LineComment,   ///< after //, <!-- or a --> that begins a line
  BlockComment,  ///< inside /* ... */
};

/// What a '/' in code would be, judged by the token before it.
enum class TJsSlash : uint8_t {
  Regexp,   ///< the start of a regular-expression literal
  DivOp,    ///< division
  Unknown,  ///< the ways through a condition disagree: a '/' is refused
};

/// Bytes whose meaning depends on the ones after them.
enum class TJsPending : uint8_t {
  None,
  Backslash,   ///< in a literal: the next byte is escaped
  Slash,       ///< in code: '/' may begin a comment, a regexp, or divide
  Star,        ///< in a block comment: '*' may end it
  Dollar,      ///< in a template literal: '$' may begin ${
  Lt,          ///< in code: "<" of "<!--"
  LtBang,      ///< "<!"
  LtBangDash,  ///< "<!-"
  Dash,        ///< "-" of a "-->" that begins a line
  DashDash,    ///< "--" of it
  E2,          ///< the first byte of U+2028 or U+2029 (line terminators)
  E280,        ///< their first two bytes
};

/// The lexer's state. Compared as a whole (the branches of a condition must
/// end alike; JoinJs joins those that differ only in what a '/' would be).
struct TJsState {
  /// Template literals nest through ${ at most this deep; deeper is refused.
  static constexpr size_t kMaxTemplateDepth = 32;
  /// The longest word that can precede a regular expression ("instanceof").
  static constexpr size_t kMaxKeyword = 10;
  /// Last: the last byte of code is not known (the ways through a condition
  /// disagree).
  static constexpr char kUnknownLast = 1;

  TJsMode Mode = TJsMode::Expr;
  TJsPending Pending = TJsPending::None;
  TJsSlash Slash = TJsSlash::Regexp;
  bool LineStart = true;  ///< only blanks and comments since a line break: "-->" is a comment
  bool RunOdd = false;    ///< an odd run of '+' or '-' ends the code so far
  char Last = 0;          ///< the last byte of code that is not blank
  std::string Word;       ///< the identifier or number being read, up to kMaxKeyword + 1 bytes
  /// Per open ${ of template literals: the braces open within it.
  std::string Braces;

  bool operator==(const TJsState& O) const;
  bool operator!=(const TJsState& O) const { return !(*this == O); }
  /// Appends the state as bytes, for cache keys.
  void AppendKey(std::string& Key) const;
  /// A short description for messages ("a JavaScript string in '...'", ...).
  const char* Describe() const;
  /// A value stands here: settles a '/' right before it (a regexp begins, or
  /// a division). Sets Problem where that is not known.
  void BeforeValue(std::string& Problem);
  /// The state after a value: in code, an expression that ends the code so
  /// far (its padding keeps it from joining a word beside it).
  void AfterValue();
};

/// Advances State over one byte of JavaScript. Sets Problem (and goes on)
/// where the lexer cannot tell what the byte means: a '/' where the ways
/// through a condition disagree on division or regexp, template literals
/// nested too deep, a line break inside a regular-expression literal.
void JsStep(TJsState& State, unsigned char C, std::string& Problem);

/// Joins the states two ways through a condition end in. True, with Out, when
/// they agree on everything but what a '/' would be; false when they differ
/// in what a value would be escaped as.
bool JoinJs(const TJsState& A, const TJsState& B, TJsState& Out);

}  // namespace vekstd
