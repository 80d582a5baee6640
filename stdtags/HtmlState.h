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
  CData,            ///< in <![CDATA[ ... ]]> of SVG or MathML
  BetweenAttrs,     ///< in a tag where ways through a condition rejoin between attributes
};

/// What the value of the attribute being read holds.
enum class TAttrKind : uint8_t {
  Normal,
  Url,      ///< one URL
  UrlList,  ///< URLs separated by ';' (values of an animation of href)
  Event,    ///< JavaScript
  Style,    ///< CSS declarations
  Html,     ///< a document (srcdoc)
  Unknown,  ///< an animation's values whose target attribute is not known
};

/// Progress within an HTML comment, towards "-->" or "--!>".
enum class TCommentStep : uint8_t {
  Opened,        ///< right after "<!--"
  OpenedDash,    ///< "<!---"
  Inside,        ///< in the comment's text
  Dash,          ///< after '-'
  DashDash,      ///< after "--"
  DashDashBang,  ///< after "--!"
};

/// The script data states: "<!--" in a script lets a "<script>" after it
/// hide the next "</script>" from the tokenizer.
enum class TScriptData : uint8_t {
  Normal,
  Escaped,        ///< after "<!--"
  DoubleEscaped,  ///< after "<!--" and "<script": "</script" returns to Escaped
};

/// What an SVG animation element (animate, set, ...) animates, as far as its
/// attributeName has told.
enum class TAnimTarget : uint8_t {
  None,     ///< not an animation element
  Unset,    ///< no attributeName yet
  Url,      ///< href or xlink:href
  Other,    ///< another attribute
  Unknown,  ///< a value stood in attributeName, or the ways through a condition differ
};

/// The tokenizer's state after some literal text. Compared as a whole to see
/// whether the branches of a condition end where they began (JoinHtml joins
/// those that differ only where no value could tell).
struct THtmlState {
  static constexpr size_t kMaxTagName = 16, kMaxAttrName = 32, kMaxForeignDepth = 16;

  THtmlMode Mode = THtmlMode::Data;
  TAttrKind Attr = TAttrKind::Normal;  ///< of the attribute being read
  uint8_t Quote = 0;                   ///< its quote byte, 0 when unquoted
  TCommentStep Comment = TCommentStep::Opened;
  TScriptData ScriptData = TScriptData::Normal;
  TAnimTarget Anim = TAnimTarget::None;
  uint8_t Matched = 0;       ///< bytes of "</name", "<!-", "[CDATA[" or "]]>" read
  bool EndTag = false;       ///< the tag being read is an end tag
  bool EatsNewline = false;  ///< right after <textarea>, <pre> or <listing>
  bool ForeignCode = false;  ///< in an SVG or MathML <script> or <style>
  std::string TagName;       ///< lower case, at most kMaxTagName bytes kept
  std::string AttrName;      ///< lower case, at most kMaxAttrName bytes kept
  std::string AttrText;      ///< the value of attributeName, at most kMaxAttrName bytes
  /// The end of the text of a script that may begin "<!--", "-->",
  /// "<script" or "</script" (lower case).
  std::string ScriptTail;
  /// A character reference being read in an attribute value ("&...").
  std::string CharRef;
  /// Elements that change how tags are read, innermost last: 's' <svg>,
  /// 'm' <math>, 'h' an element whose content is HTML again (foreignObject,
  /// desc, title, mi, mo, mn, ms, mtext).
  std::string Foreign;
  TJsState Js;    ///< in a script or event attribute
  TCssState Css;  ///< in a style sheet or style attribute
  TUrlState Url;  ///< in a URL attribute

  bool operator==(const THtmlState& O) const;
  bool operator!=(const THtmlState& O) const { return !(*this == O); }
  /// The state as a string of bytes, for cache keys.
  std::string Key() const;
  /// Where the state stands, in words for a template's author ("element
  /// text", "a JavaScript string in '...' in a script", ...).
  std::string Describe() const;
  /// In SVG or MathML, where tags are read as XML reads them.
  bool InForeign() const { return !Foreign.empty() && Foreign.back() != 'h'; }
};

}  // namespace vekstd
