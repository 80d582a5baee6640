// The HTML context tokenizer's state: the tokenizer's mode, the attribute
// being read, and the state of the language (JavaScript, CSS, URL) of the
// script, style sheet or attribute value it stands in.
#pragma once

#include <cstdint>
#include <string>

#include "CssLexer.h"
#include "JsLexer.h"
#include "UrlContext.h"

namespace vekstd {

/// The states of the browser's tokenizer the tracker follows.
enum class THtmlMode : uint8_t {
  Data,             ///< element text
  TagOpen,          ///< after '<'
  EndTagOpen,       ///< after "</"
  TagName,          ///< in a tag's name
  BeforeAttrName,   ///< in a tag, between attributes
  AttrName,         ///< in an attribute's name
  AfterAttrName,    ///< after an attribute's name, before any '='
  BeforeAttrValue,  ///< after '='
  AttrValue,        ///< in an attribute's value (quoted or not)
  AfterAttrValue,   ///< right after a quoted value's closing quote
  SelfClosing,      ///< after '/' in a tag
  MarkupDecl,       ///< after "<!"
  Comment,          ///< in <!-- ... -->
  BogusComment,     ///< in <? ... > or <!x ... >
  Rcdata,           ///< the text of title, textarea
  RawText,          ///< the text of xmp, iframe, noembed, noframes, noscript
  Script,           ///< the text of script
  Style,            ///< the text of style
  Plaintext,        ///< after <plaintext>: text to the end
};

/// What the value of the attribute being read holds.
enum class TAttrKind : uint8_t { Normal, Url, Event, Style, Html };

/// Progress within an HTML comment, towards "-->" or "--!>".
enum class TCommentStep : uint8_t {
  Opened,        ///< right after "<!--"
  OpenedDash,    ///< "<!---"
  Inside,        ///< in the comment's text
  Dash,          ///< after '-'
  DashDash,      ///< after "--"
  DashDashBang,  ///< after "--!"
};

/// The tokenizer's state after some literal text. Compared as a whole to see
/// whether the branches of a condition end where they began.
struct THtmlState {
  static constexpr size_t kMaxTagName = 16, kMaxAttrName = 32;

  THtmlMode Mode = THtmlMode::Data;
  TAttrKind Attr = TAttrKind::Normal;  ///< of the attribute being read
  uint8_t Quote = 0;                   ///< its quote byte, 0 when unquoted
  TCommentStep Comment = TCommentStep::Opened;
  bool MarkupDash = false;    ///< "<!-" read, in MarkupDecl
  uint8_t EndTagMatched = 0;  ///< bytes of "</name" read, in raw text
  bool EndTag = false;        ///< the tag being read is an end tag
  bool EatsNewline = false;   ///< right after <textarea>, <pre> or <listing>
  std::string TagName;        ///< lower case, at most kMaxTagName bytes kept
  std::string AttrName;       ///< lower case, at most kMaxAttrName bytes kept
  TJsState Js;                ///< in a script or event attribute
  TCssState Css;              ///< in a style sheet or style attribute
  TUrlState Url;              ///< in a URL attribute

  bool operator==(const THtmlState& O) const;
  bool operator!=(const THtmlState& O) const { return !(*this == O); }
  /// The state as a string of bytes, for cache keys.
  std::string Key() const;
  /// A short description for messages ("element text", "a script", ...).
  std::string Describe() const;
};

}  // namespace vekstd
