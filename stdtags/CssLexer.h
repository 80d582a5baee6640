// The CSS lexer of the HTML context tokenizer: tells strings and comments
// from the rest of a style sheet or style attribute.
#pragma once

#include <cstdint>
#include <string>

namespace vekstd {

/// Where the lexer stands within a style sheet or style attribute.
enum class TCssMode : uint8_t {
  Value,        ///< declarations, selectors, property values
  SingleQuote,  ///< inside '...'
  DoubleQuote,  ///< inside "..."
  Comment,      ///< inside /* ... */
};

/// A byte whose meaning depends on the next one.
enum class TCssPending : uint8_t {
  None,
  Backslash,  ///< in a string: the next byte is escaped
  Slash,      ///< '/' may begin a comment
  Star,       ///< in a comment: '*' may end it
};

/// The lexer's state.
struct TCssState {
  TCssMode Mode = TCssMode::Value;
  TCssPending Pending = TCssPending::None;

  bool operator==(const TCssState& O) const { return Mode == O.Mode && Pending == O.Pending; }
  bool operator!=(const TCssState& O) const { return !(*this == O); }
  /// Appends the state as bytes, for cache keys.
  void AppendKey(std::string& Key) const;
  /// The place in words ("a CSS string", ...).
  const char* Describe() const {
    return Mode == TCssMode::Value ? "CSS"
                                   : (Mode == TCssMode::Comment ? "a CSS comment" : "a CSS string");
  }
  /// Forgets a pending byte: a value stands between it and the next one.
  void BreakPending() { Pending = TCssPending::None; }
};

/// Advances State over one byte of CSS.
void CssStep(TCssState& State, unsigned char C);

}  // namespace vekstd
