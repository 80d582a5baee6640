// The HTML context tokenizer: follows the literal text of a template byte by
// byte, as a browser's tokenizer would, far enough to know where a value tag
// stands (element text, an attribute value of some kind, a script, a style
// sheet, a comment) and so how its value must be escaped.
#pragma once

#include <cstdint>
#include <string>

#include "HtmlState.h"

namespace vekstd {

/// How a value is escaped: first the inner escaper of the language it stands
/// in, then the wrap for the attribute value it stands in (if any).
enum class TInner : uint8_t {
  None,          ///< nothing (the wrap alone, or raw)
  Html,          ///< element text and RCDATA: character references
  Comment,       ///< inside an HTML comment: references, '-' as well
  UrlStart,      ///< a URL's start: an unsafe scheme becomes a placeholder
  UrlComponent,  ///< percent-encoding of one component
  JsString,      ///< inside a JavaScript string literal or comment
  JsValue,       ///< a JavaScript expression: the value as JSON
  JsRegexp,      ///< inside a JavaScript regular-expression literal
  Css,           ///< CSS hex escapes (inside a CSS string or comment)
  CssValue,      ///< a CSS value: passes if safe (colour, length, name), else a marker
  CssUrlStart,   ///< a url() of CSS, at its start: the scheme judged, then encoded
  CssUrlPart,    ///< a url() of CSS, further on: percent-encoded
  Srcset,        ///< a srcset candidate list: each URL's scheme judged
  MetaRefresh,   ///< a meta element's content: the URL of a refresh judged
  Forbidden,     ///< no value may stand here: outputs nothing
};
enum class TWrap : uint8_t {
  None,      ///< not inside an attribute value
  Quoted,    ///< inside a quoted attribute value
  Unquoted,  ///< an unquoted attribute value: every special byte a reference
};

struct TEscape {
  bool operator==(const TEscape& O) const {
    return Inner == O.Inner && Wrap == O.Wrap && UrlPrefix == O.UrlPrefix && Where == O.Where &&
           RawIsRisky == O.RawIsRisky && KeepLeadingNewline == O.KeepLeadingNewline &&
           SpaceBefore == O.SpaceBefore && EscapeDashes == O.EscapeDashes && Markup == O.Markup &&
           NeverEmpty == O.NeverEmpty;
  }
  TInner Inner = TInner::Html;
  TWrap Wrap = TWrap::None;
  std::string UrlPrefix;  ///< literal text of the URL before the value (UrlStart)
  /// A short name of the context, for messages ("a URL attribute", ...).
  const char* Where = "element text";
  /// Where a raw value is dangerous: script, style, event or URL attribute.
  bool RawIsRisky = false;
  /// Right after <textarea>, <pre> or <listing>, whose first line break the
  /// browser drops: a value that begins with one gets one more.
  bool KeepLeadingNewline = false;
  /// JavaScript code right after the start of "<!--" or "</script": the
  /// value begins with a space, so that it cannot complete them.
  bool SpaceBefore = false;
  /// In a script after "<!--": '-' escaped too, so that no value can
  /// complete "-->".
  bool EscapeDashes = false;
  /// Element text with no escaping modifier: a value that is markup already
  /// (a binary value, as vekpp gives rendered Markdown) goes out as it is.
  bool Markup = false;
  /// The first bytes of an unquoted attribute value: a value that writes
  /// nothing there is written as "" instead, since the browser would take
  /// the template text after it (" title=...") as the attribute's value.
  bool NeverEmpty = false;
};

/// Advances State over the literal bytes [Begin, End). When the text itself
/// makes a value before it unsafe (a ':' after a value at the start of a
/// URL), sets Problem and returns the byte where it stands; else nullptr.
const char* HtmlFeed(THtmlState& State, const char* Begin, const char* End, std::string& Problem);

/// The escaping of a value standing at State, and State after the value.
/// Sets Problem when no value may stand there (inside a tag, outside any
/// attribute value, or in a URL of an unsafe scheme).
TEscape HtmlValueAt(THtmlState& State, std::string& Problem);

}  // namespace vekstd
