// The HTML context tokenizer: a small subset of the browser's tokenizer
// (start and end tags, attributes, comments, raw text elements), one step
// function per state, handing the bytes of scripts, style sheets and
// attribute values to the lexer of their language. See docs/escaping.md.
#include "HtmlContext.h"

namespace vekstd {

namespace {

bool IsHtmlBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
bool IsAlpha(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
char Lower(unsigned char c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
}

TAttrKind AttrKindOf(const std::string& Name) {
  // A namespace prefix (xlink:href) does not change what the attribute is.
  const size_t colon = Name.rfind(':');
  const std::string n = colon == std::string::npos ? Name : Name.substr(colon + 1);
  if (n.size() > 2 && n[0] == 'o' && n[1] == 'n') return TAttrKind::Event;
  if (n == "style") return TAttrKind::Style;
  if (n == "srcdoc") return TAttrKind::Html;
  static const char* const urls[] = {"href",    "src",      "action",     "formaction", "poster",
                                     "cite",    "data",     "background", "codebase",   "longdesc",
                                     "usemap",  "manifest", "icon",       "profile",    "classid",
                                     "archive", "dynsrc",   "lowsrc",     "ping",       "itemtype"};
  for (const char* u : urls) {
    if (n == u) return TAttrKind::Url;
  }
  return TAttrKind::Normal;
}

// The raw text element a start tag opens, if any.
THtmlMode ModeAfterStartTag(const std::string& Tag) {
  if (Tag == "script") return THtmlMode::Script;
  if (Tag == "style") return THtmlMode::Style;
  if (Tag == "title" || Tag == "textarea") return THtmlMode::Rcdata;
  if (Tag == "xmp" || Tag == "iframe" || Tag == "noembed" || Tag == "noframes" || Tag == "noscript")
    return THtmlMode::RawText;
  if (Tag == "plaintext") return THtmlMode::Plaintext;
  return THtmlMode::Data;
}

void StartAttrValue(THtmlState& S, uint8_t Quote) {
  S.Mode = THtmlMode::AttrValue;
  S.Quote = Quote;
  S.Js = TJsState();
  S.Css = TCssState();
  S.Url = TUrlState();
}

// The end of a tag: element text, or the raw text of the element it opens.
// Nothing of the tag is kept, so that equal places compare equal.
void EmitTag(THtmlState& S) {
  const THtmlMode mode = S.EndTag ? THtmlMode::Data : ModeAfterStartTag(S.TagName);
  const std::string tag = S.TagName;
  S = THtmlState();
  S.Mode = mode;
  S.EatsNewline = tag == "textarea" || tag == "pre" || tag == "listing";
  if (mode != THtmlMode::Data) S.TagName = tag;
}

void StartTagName(THtmlState& S, unsigned char c, bool End) {
  S.Mode = THtmlMode::TagName;
  S.EndTag = End;
  S.TagName.assign(1, Lower(c));
}

void StartAttrName(THtmlState& S, unsigned char c) {
  S.Mode = THtmlMode::AttrName;
  S.AttrName.assign(1, Lower(c));
}

void StartBeforeAttrValue(THtmlState& S) {
  S.Mode = THtmlMode::BeforeAttrValue;
  S.Attr = AttrKindOf(S.AttrName);
}

// Within raw text, RCDATA or a script: whether c continues "</name", and
// whether the end tag is complete (EndTagMatched counts '<', '/', and the
// name's bytes).
bool EndTagStep(THtmlState& S, unsigned char c) {
  uint8_t& m = S.EndTagMatched;
  const size_t matched = m >= 2 ? m - 2u : 0u;
  if (m == 0) {
    if (c == '<') m = 1;
    return false;
  }
  if (m == 1) {
    m = c == '/' ? 2 : (c == '<' ? 1 : 0);
    return false;
  }
  if (matched < S.TagName.size()) {
    if (Lower(c) == S.TagName[matched]) {
      ++m;
    } else {
      m = c == '<' ? 1 : 0;
    }
    return false;
  }
  // The whole name: an end tag when a blank, '/' or '>' follows.
  if (IsHtmlBlank(c) || c == '/' || c == '>') {
    const std::string tag = S.TagName;
    S = THtmlState();
    if (c != '>') {
      S.EndTag = true;
      S.TagName = tag;
      S.Mode = c == '/' ? THtmlMode::SelfClosing : THtmlMode::BeforeAttrName;
    }
    return true;
  }
  m = c == '<' ? 1 : 0;
  return false;
}

// The step functions, one per mode: each reads one byte and returns true when
// the byte is to be read again in the mode it moved to.
using TStep = bool (*)(THtmlState&, unsigned char, std::string& Problem);

bool DataStep(THtmlState& S, unsigned char c, std::string&) {
  if (c == '<') S.Mode = THtmlMode::TagOpen;
  return false;
}

bool TagOpenStep(THtmlState& S, unsigned char c, std::string&) {
  if (IsAlpha(c)) {
    StartTagName(S, c, false);
  } else if (c == '/') {
    S.Mode = THtmlMode::EndTagOpen;
  } else if (c == '!') {
    S.Mode = THtmlMode::MarkupDecl;
    S.MarkupDash = false;
  } else if (c == '?') {
    S.Mode = THtmlMode::BogusComment;
  } else {
    S.Mode = THtmlMode::Data;
    return true;
  }
  return false;
}

bool EndTagOpenStep(THtmlState& S, unsigned char c, std::string&) {
  if (IsAlpha(c)) {
    StartTagName(S, c, true);
  } else {
    S.Mode = c == '>' ? THtmlMode::Data : THtmlMode::BogusComment;
  }
  return false;
}

bool TagNameStep(THtmlState& S, unsigned char c, std::string&) {
  if (IsHtmlBlank(c)) {
    S.Mode = THtmlMode::BeforeAttrName;
  } else if (c == '/') {
    S.Mode = THtmlMode::SelfClosing;
  } else if (c == '>') {
    EmitTag(S);
  } else if (S.TagName.size() < THtmlState::kMaxTagName) {
    S.TagName += Lower(c);
  }
  return false;
}

bool BeforeAttrNameStep(THtmlState& S, unsigned char c, std::string&) {
  if (IsHtmlBlank(c)) return false;
  if (c == '/' || c == '>') {
    S.Mode = THtmlMode::AfterAttrName;
    return true;
  }
  StartAttrName(S, c);
  return false;
}

bool AttrNameStep(THtmlState& S, unsigned char c, std::string&) {
  if (IsHtmlBlank(c) || c == '/' || c == '>') {
    S.Mode = THtmlMode::AfterAttrName;
    return true;
  }
  if (c == '=') {
    StartBeforeAttrValue(S);
  } else if (S.AttrName.size() < THtmlState::kMaxAttrName) {
    S.AttrName += Lower(c);
  }
  return false;
}

bool AfterAttrNameStep(THtmlState& S, unsigned char c, std::string&) {
  if (IsHtmlBlank(c)) return false;
  if (c == '/') {
    S.Mode = THtmlMode::SelfClosing;
  } else if (c == '=') {
    StartBeforeAttrValue(S);
  } else if (c == '>') {
    EmitTag(S);
  } else {
    StartAttrName(S, c);
  }
  return false;
}

bool BeforeAttrValueStep(THtmlState& S, unsigned char c, std::string&) {
  if (IsHtmlBlank(c)) return false;
  if (c == '"' || c == '\'') {
    StartAttrValue(S, c);
  } else if (c == '>') {
    EmitTag(S);
  } else {
    StartAttrValue(S, 0);
    return true;
  }
  return false;
}

// Feeds one byte of an attribute value to the language of the attribute.
void AttrValueFeed(THtmlState& S, unsigned char c, std::string& Problem) {
  switch (S.Attr) {
    case TAttrKind::Url:
      UrlStep(S.Url, c, Problem);
      break;
    case TAttrKind::Event:
      JsStep(S.Js, c);
      break;
    case TAttrKind::Style:
      CssStep(S.Css, c);
      break;
    default:
      break;
  }
}

bool AttrValueStep(THtmlState& S, unsigned char c, std::string& Problem) {
  if (S.Quote != 0 && c == S.Quote) {
    S.Mode = THtmlMode::AfterAttrValue;
  } else if (S.Quote == 0 && IsHtmlBlank(c)) {
    S.Mode = THtmlMode::BeforeAttrName;
  } else if (S.Quote == 0 && c == '>') {
    EmitTag(S);
  } else {
    AttrValueFeed(S, c, Problem);
    return false;
  }
  S.AttrName.clear();
  S.Attr = TAttrKind::Normal;
  return false;
}

bool AfterAttrValueStep(THtmlState& S, unsigned char c, std::string&) {
  if (IsHtmlBlank(c)) {
    S.Mode = THtmlMode::BeforeAttrName;
  } else if (c == '/') {
    S.Mode = THtmlMode::SelfClosing;
  } else if (c == '>') {
    EmitTag(S);
  } else {
    S.Mode = THtmlMode::BeforeAttrName;
    return true;
  }
  return false;
}

bool SelfClosingStep(THtmlState& S, unsigned char c, std::string&) {
  if (c == '>') {
    EmitTag(S);
    return false;
  }
  S.Mode = THtmlMode::BeforeAttrName;
  return true;
}

bool MarkupDeclStep(THtmlState& S, unsigned char c, std::string&) {
  if (c == '-' && !S.MarkupDash) {
    S.MarkupDash = true;
  } else if (c == '-') {
    S.Mode = THtmlMode::Comment;
    S.MarkupDash = false;
    S.Comment = TCommentStep::Opened;
  } else {
    S.MarkupDash = false;
    S.Mode = THtmlMode::BogusComment;
    return true;
  }
  return false;
}

// The comment ends at "-->", "--!>", and right after its opening at ">" or "->".
bool CommentStep(THtmlState& S, unsigned char c, std::string&) {
  using C = TCommentStep;
  bool ends = false;
  switch (S.Comment) {
    case C::Opened:
      S.Comment = c == '-' ? C::OpenedDash : C::Inside;
      ends = c == '>';
      break;
    case C::OpenedDash:
      S.Comment = c == '-' ? C::DashDash : C::Inside;
      ends = c == '>';
      break;
    case C::Inside:
      if (c == '-') S.Comment = C::Dash;
      break;
    case C::Dash:
      S.Comment = c == '-' ? C::DashDash : C::Inside;
      break;
    case C::DashDash:
      if (c == '>') {
        ends = true;
      } else if (c == '!') {
        S.Comment = C::DashDashBang;
      } else if (c != '-') {
        S.Comment = C::Inside;
      }
      break;
    case C::DashDashBang:
      S.Comment = c == '-' ? C::Dash : C::Inside;
      ends = c == '>';
      break;
  }
  if (ends) {
    S.Mode = THtmlMode::Data;
    S.Comment = C::Opened;
  }
  return false;
}

bool BogusCommentStep(THtmlState& S, unsigned char c, std::string&) {
  if (c == '>') S.Mode = THtmlMode::Data;
  return false;
}

bool RawTextStep(THtmlState& S, unsigned char c, std::string&) {
  EndTagStep(S, c);
  return false;
}

bool ScriptStep(THtmlState& S, unsigned char c, std::string&) {
  if (!EndTagStep(S, c)) JsStep(S.Js, c);
  return false;
}

bool StyleStep(THtmlState& S, unsigned char c, std::string&) {
  if (!EndTagStep(S, c)) CssStep(S.Css, c);
  return false;
}

bool PlaintextStep(THtmlState&, unsigned char, std::string&) {
  return false;
}

// Indexed by THtmlMode.
const TStep kSteps[] = {
    DataStep,        TagOpenStep,       EndTagOpenStep,      TagNameStep,      BeforeAttrNameStep,
    AttrNameStep,    AfterAttrNameStep, BeforeAttrValueStep, AttrValueStep,    AfterAttrValueStep,
    SelfClosingStep, MarkupDeclStep,    CommentStep,         BogusCommentStep, RawTextStep,
    RawTextStep,     ScriptStep,        StyleStep,           PlaintextStep,
};
static_assert(sizeof kSteps / sizeof kSteps[0] == static_cast<size_t>(THtmlMode::Plaintext) + 1,
              "one step function per mode");

void Step(THtmlState& S, unsigned char c, std::string& Problem) {
  S.EatsNewline = false;
  while (kSteps[static_cast<size_t>(S.Mode)](S, c, Problem)) {
  }
}

TWrap WrapOf(const THtmlState& S) {
  return S.Quote == 0 ? TWrap::Unquoted : TWrap::Quoted;
}

TInner JsInner(const THtmlState& S) {
  return S.Js.Mode == TJsMode::Expr ? TInner::JsValue : TInner::JsString;
}

// A value in a URL attribute, by the part of the URL reached.
void UrlValueAt(THtmlState& S, TEscape& E, std::string& Problem) {
  E.Where = "a URL attribute";
  E.RawIsRisky = true;
  switch (S.Url.Part) {
    case TUrlPart::Start:
    case TUrlPart::Scheme:
      E.Inner = TInner::UrlStart;
      E.UrlPrefix = S.Url.Prefix;
      S.Url.Part = TUrlPart::AfterValue;
      S.Url.Prefix.clear();
      break;
    case TUrlPart::AfterValue:
    case TUrlPart::Query:
      E.Inner = TInner::UrlComponent;
      break;
    case TUrlPart::Path:
      break;
    case TUrlPart::BadScheme:
      E.Inner = TInner::Forbidden;
      Problem = "a value in a URL whose scheme is not http, https, mailto or tel";
      break;
  }
}

// A value in an attribute's value, by the kind of the attribute.
TEscape AttrValueAt(THtmlState& S, TEscape E, std::string& Problem) {
  E.Wrap = WrapOf(S);
  E.Inner = TInner::None;
  E.Where = "an attribute value";
  switch (S.Attr) {
    case TAttrKind::Event:
      E.Inner = JsInner(S);
      E.Where = "an event handler attribute";
      E.RawIsRisky = true;
      S.Js.BreakPending();
      break;
    case TAttrKind::Style:
      E.Inner = TInner::Css;
      E.Where = "a style attribute";
      E.RawIsRisky = true;
      S.Css.BreakPending();
      break;
    case TAttrKind::Html:
      E.Inner = TInner::Html;
      E.Where = "an HTML document attribute (srcdoc)";
      E.RawIsRisky = true;
      break;
    case TAttrKind::Url:
      UrlValueAt(S, E, Problem);
      break;
    case TAttrKind::Normal:
      break;
  }
  return E;
}

}  // namespace

bool THtmlState::operator==(const THtmlState& O) const {
  return Mode == O.Mode && Attr == O.Attr && Quote == O.Quote && Comment == O.Comment &&
         MarkupDash == O.MarkupDash && EndTagMatched == O.EndTagMatched && EndTag == O.EndTag &&
         TagName == O.TagName && AttrName == O.AttrName && Js == O.Js && Css == O.Css &&
         Url == O.Url;
}

std::string THtmlState::Key() const {
  std::string k;
  for (const uint8_t b :
       {static_cast<uint8_t>(Mode), static_cast<uint8_t>(Attr), Quote,
        static_cast<uint8_t>(Comment), static_cast<uint8_t>(MarkupDash), EndTagMatched,
        static_cast<uint8_t>(EndTag), static_cast<uint8_t>(EatsNewline)})
    k += static_cast<char>(b);
  for (const std::string* s : {&TagName, &AttrName}) {
    k += static_cast<char>(s->size());
    k += *s;
  }
  Js.AppendKey(k);
  Css.AppendKey(k);
  Url.AppendKey(k);
  return k;
}

std::string THtmlState::Describe() const {
  switch (Mode) {
    case THtmlMode::Data:
    case THtmlMode::Plaintext:
      return "element text";
    case THtmlMode::Rcdata:
    case THtmlMode::RawText:
      return "the text of <" + TagName + ">";
    case THtmlMode::Script:
      return Js.Mode == TJsMode::Expr ? "a script" : "a string or comment of a script";
    case THtmlMode::Style:
      return "a style sheet";
    case THtmlMode::Comment:
    case THtmlMode::MarkupDecl:
    case THtmlMode::BogusComment:
      return "an HTML comment";
    case THtmlMode::AttrValue:
      return "the value of the attribute " + AttrName;
    case THtmlMode::BeforeAttrValue:
      return "the start of the value of the attribute " + AttrName;
    default:
      return "a tag";
  }
}

const char* HtmlFeed(THtmlState& State, const char* Begin, const char* End, std::string& Problem) {
  const char* at = nullptr;
  for (const char* p = Begin; p < End; ++p) {
    Step(State, static_cast<unsigned char>(*p), Problem);
    if (!at && !Problem.empty()) at = p;
  }
  return at;
}

TEscape HtmlValueAt(THtmlState& S, std::string& Problem) {
  TEscape e;
  e.KeepLeadingNewline = S.EatsNewline;
  S.EatsNewline = false;
  switch (S.Mode) {
    case THtmlMode::Data:
    case THtmlMode::Plaintext:
      return e;
    case THtmlMode::Rcdata:
    case THtmlMode::RawText:
      e.Where = "the text of a title, textarea or raw text element";
      return e;
    case THtmlMode::Comment:
    case THtmlMode::MarkupDecl:
    case THtmlMode::BogusComment:
      e.Inner = TInner::Comment;
      e.Where = "an HTML comment";
      return e;
    case THtmlMode::Script:
      e.Inner = JsInner(S);
      e.Where = "a script";
      e.RawIsRisky = true;
      S.Js.BreakPending();
      return e;
    case THtmlMode::Style:
      e.Inner = TInner::Css;
      e.Where = "a style sheet";
      e.RawIsRisky = true;
      S.Css.BreakPending();
      return e;
    case THtmlMode::BeforeAttrValue:
      StartAttrValue(S, 0);
      return AttrValueAt(S, e, Problem);
    case THtmlMode::AttrValue:
      return AttrValueAt(S, e, Problem);
    default:
      e.Inner = TInner::Forbidden;
      e.Where = "a tag";
      Problem = "a value inside a tag must be an attribute's value, as in name=\"<value>\"";
      return e;
  }
}

}  // namespace vekstd
