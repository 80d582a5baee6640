// The CSS lexer of the HTML context tokenizer: tells strings, comments and
// url(...) from the rest of a style sheet or style attribute.
#pragma once

#include <cstdint>
#include <string>

#include "UrlContext.h"

namespace vekstd {

/// Where the lexer stands within a style sheet or style attribute.
enum class TCssMode : uint8_t {
  Value,        ///< declarations, selectors, property values
  SingleQuote,  ///< inside '...'
  DoubleQuote,  ///< inside "..."
  Comment,      ///< inside /* ... */
  UrlOpen,      ///< right after "url(", blanks only so far
  Url,          ///< inside url( ... ) without quotes
  UrlSingle,    ///< inside url(' ... ')
  UrlDouble,    ///< inside url(" ... ")
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
  std::string Word;  ///< the name being read in Value, lower case, up to 4 bytes ("url")
  TUrlState Url;     ///< inside url( ... )

  bool operator==(const TCssState& O) const {
    return Mode == O.Mode && Pending == O.Pending && Word == O.Word && Url == O.Url;
  }
  bool operator!=(const TCssState& O) const { return !(*this == O); }
  /// Appends the state as bytes, for cache keys.
  void AppendKey(std::string& Key) const;
  /// The place in words ("a CSS string", ...).
  const char* Describe() const;
  /// Inside url( ... ).
  bool InUrl() const { return Mode >= TCssMode::UrlOpen; }
  /// Forgets a pending byte: a value stands between it and the next one.
  void BreakPending() {
    Pending = TCssPending::None;
    Word.clear();
  }
};

/// Advances State over one byte of CSS. Sets Problem where a byte makes a
/// value before it unsafe (a ':' after a value at the start of a url()).
void CssStep(TCssState& State, unsigned char C, std::string& Problem);

}  // namespace vekstd
