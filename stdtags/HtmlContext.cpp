// The HTML context tokenizer: a small subset of the browser's tokenizer
// (start and end tags, attributes, comments, raw text elements, the script
// data states, CDATA in SVG), one step function per state, handing the bytes
// of scripts, style sheets and attribute values to the lexer of their
// language. See docs/escaping.md.
#include "HtmlContext.h"

#include "CharRef.h"
#include "HtmlTags.h"

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

void StartAttrValue(THtmlState& S, uint8_t Quote) {
  S.Mode = THtmlMode::AttrValue;
  S.Quote = Quote;
  S.Js = TJsState();
  S.Css = TCssState();
  S.Url = TUrlState();
  S.CharRef.clear();
  S.AttrText.clear();
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
  S.Attr = AttrKindOf(S);
}

// Within raw text or RCDATA: whether c continues "</name", and whether the
// end tag is complete (Matched counts '<', '/', and the name's bytes).
bool EndTagStep(THtmlState& S, unsigned char c) {
  uint8_t& m = S.Matched;
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
    ResetAfterTag(S, THtmlMode::Data);
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
    S.Matched = 0;
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

bool TagNameStep(THtmlState& S, unsigned char c, std::string& Problem) {
  if (IsHtmlBlank(c) || c == '/' || c == '>') TagNameEnded(S);
  if (IsHtmlBlank(c)) {
    S.Mode = THtmlMode::BeforeAttrName;
  } else if (c == '/') {
    S.Mode = THtmlMode::SelfClosing;
  } else if (c == '>') {
    EmitTag(S, false, Problem);
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

// Where ways through a condition rejoin between a tag's attributes: blanks,
// '/' and '>' mean the same on every way, and a name begins an attribute;
// an '=' would give a value to a different attribute on each way, and a name
// byte right after a name still open on one way (Matched 1) would continue it.
bool BetweenAttrsStep(THtmlState& S, unsigned char c, std::string& Problem) {
  if (IsHtmlBlank(c)) {
    S.Matched = 0;
    return false;
  }
  if (c == '=') {
    Problem =
        "an '=' where the ways through a condition end in different places of a tag: it would "
        "give a value to a different attribute on each way";
  } else if (S.Matched == 1 && c != '/' && c != '>') {
    Problem =
        "text right after a condition that ends inside a name on one way (of the tag or an "
        "attribute) and outside it on another: put a blank before it";
  }
  S.Matched = 0;
  S.Mode = THtmlMode::BeforeAttrName;
  return c != '=';
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

bool AfterAttrNameStep(THtmlState& S, unsigned char c, std::string& Problem) {
  if (IsHtmlBlank(c)) return false;
  if (c == '/') {
    S.Mode = THtmlMode::SelfClosing;
  } else if (c == '=') {
    StartBeforeAttrValue(S);
  } else if (c == '>') {
    EmitTag(S, false, Problem);
  } else {
    StartAttrName(S, c);
  }
  return false;
}

bool BeforeAttrValueStep(THtmlState& S, unsigned char c, std::string& Problem) {
  if (IsHtmlBlank(c)) return false;
  if (c == '"' || c == '\'') {
    StartAttrValue(S, c);
  } else if (c == '>') {
    AttrValueEnded(S);
    EmitTag(S, false, Problem);
  } else {
    StartAttrValue(S, 0);
    return true;
  }
  return false;
}

// One byte of an attribute's value, after character references, to the
// language of the attribute.
void LanguageByte(THtmlState& S, unsigned char c, std::string& Problem) {
  switch (S.Attr) {
    case TAttrKind::UrlList:
      if (c == ';') {
        S.Url = TUrlState();  // the next URL of the list
        break;
      }
      UrlStep(S.Url, c, Problem);
      break;
    case TAttrKind::Url:
      UrlStep(S.Url, c, Problem);
      break;
    case TAttrKind::Event:
      JsStep(S.Js, c, Problem);
      break;
    case TAttrKind::Style:
      CssStep(S.Css, c);
      break;
    default:
      if (S.Anim != TAnimTarget::None && S.AttrName == "attributename" &&
          S.AttrText.size() < THtmlState::kMaxAttrName)
        S.AttrText += Lower(c);
      break;
  }
}

// Attribute values whose language is read decode character references first,
// as the browser decodes the value before it reads the URL, script or style.
bool DecodesReferences(const THtmlState& S) {
  return S.Attr == TAttrKind::Url || S.Attr == TAttrKind::UrlList || S.Attr == TAttrKind::Event ||
         S.Attr == TAttrKind::Style ||
         (S.Anim != TAnimTarget::None && S.AttrName == "attributename");
}

void AttrValueByte(THtmlState& S, unsigned char c, std::string& Problem) {
  if (!DecodesReferences(S)) return;
  std::string bytes;
  if (CharRefStep(S.CharRef, c, bytes) == TCharRefResult::Unknown &&
      (S.Attr == TAttrKind::Event || S.Attr == TAttrKind::Style))
    Problem =
        "a named character reference the template tracker does not know, in an event or "
        "style attribute: write the character itself or a numeric reference";
  for (const char b : bytes) LanguageByte(S, static_cast<unsigned char>(b), Problem);
}

void EndAttrValue(THtmlState& S, std::string& Problem) {
  if (DecodesReferences(S)) {
    std::string bytes;
    CharRefFlush(S.CharRef, bytes);
    for (const char b : bytes) LanguageByte(S, static_cast<unsigned char>(b), Problem);
  }
  AttrValueEnded(S);
}

bool AttrValueStep(THtmlState& S, unsigned char c, std::string& Problem) {
  if (S.Quote != 0 && c == S.Quote) {
    EndAttrValue(S, Problem);
    S.Mode = THtmlMode::AfterAttrValue;
  } else if (S.Quote == 0 && IsHtmlBlank(c)) {
    EndAttrValue(S, Problem);
    S.Mode = THtmlMode::BeforeAttrName;
  } else if (S.Quote == 0 && c == '>') {
    EndAttrValue(S, Problem);
    EmitTag(S, false, Problem);
  } else {
    AttrValueByte(S, c, Problem);
  }
  return false;
}

bool AfterAttrValueStep(THtmlState& S, unsigned char c, std::string& Problem) {
  if (IsHtmlBlank(c)) {
    S.Mode = THtmlMode::BeforeAttrName;
  } else if (c == '/') {
    S.Mode = THtmlMode::SelfClosing;
  } else if (c == '>') {
    EmitTag(S, false, Problem);
  } else {
    S.Mode = THtmlMode::BeforeAttrName;
    return true;
  }
  return false;
}

bool SelfClosingStep(THtmlState& S, unsigned char c, std::string& Problem) {
  if (c == '>') {
    EmitTag(S, true, Problem);
    return false;
  }
  S.Mode = THtmlMode::BeforeAttrName;
  return true;
}

// After "<!": "--" opens a comment, "[CDATA[" (in SVG or MathML) a CDATA
// section; anything else a bogus comment. Matched: 1 for "-", 1 + n for n
// bytes of "[CDATA[".
bool MarkupDeclStep(THtmlState& S, unsigned char c, std::string&) {
  static const char kCData[] = "[CDATA[";
  if (S.Matched == 0 && c == '-') {
    S.Matched = 1;
    return false;
  }
  if (S.Matched == 1) {
    S.Matched = 0;
    if (c == '-') {
      S.Mode = THtmlMode::Comment;
      S.Comment = TCommentStep::Opened;
      return false;
    }
  } else {
    const size_t n = S.Matched == 0 ? 0 : S.Matched - 1u;
    if (S.InForeign() && c == static_cast<unsigned char>(kCData[n])) {
      S.Matched = static_cast<uint8_t>(n + 2);
      if (n + 1 == sizeof kCData - 1) {
        S.Mode = THtmlMode::CData;
        S.Matched = 0;
      }
      return false;
    }
    S.Matched = 0;
  }
  S.Mode = THtmlMode::BogusComment;
  return true;
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

// A CDATA section ends at "]]>" (Matched counts the ']' before).
bool CDataStep(THtmlState& S, unsigned char c, std::string&) {
  if (c == '>' && S.Matched >= 2) {
    S.Mode = THtmlMode::Data;
    S.Matched = 0;
  } else if (c == ']') {
    S.Matched = S.Matched < 2 ? S.Matched + 1 : 2;
  } else {
    S.Matched = 0;
  }
  return false;
}

bool RawTextStep(THtmlState& S, unsigned char c, std::string&) {
  EndTagStep(S, c);
  return false;
}

// The sequences that move between the script data states; ScriptTail keeps
// the longest end of the text that begins one of them.
const char* const kScriptSequences[] = {"<!--", "-->", "</script", "<script"};

bool BeginsSequence(const std::string& S, size_t From) {
  const size_t n = S.size() - From;
  for (const char* q : kScriptSequences) {
    const std::string seq(q);
    const bool awaitsDelimiter = seq.back() == 't';  // "<script", "</script"
    if ((n < seq.size() || (awaitsDelimiter && n == seq.size())) &&
        S.compare(From, n, seq, 0, n) == 0)
      return true;
  }
  return false;
}

// Follows "<!--", "-->", "<script" and "</script" in a script. Returns true
// when c ended the script.
bool ScriptDataStep(THtmlState& S, unsigned char c) {
  if (S.ScriptTail.empty() && c != '<' && c != '-') return false;
  const bool delimiter = IsHtmlBlank(c) || c == '/' || c == '>';
  if (delimiter && S.ScriptTail == "</script") {
    if (S.ScriptData != TScriptData::DoubleEscaped) {
      ResetAfterTag(S, THtmlMode::Data);
      if (c != '>') {
        S.EndTag = true;
        S.TagName = "script";
        S.Mode = c == '/' ? THtmlMode::SelfClosing : THtmlMode::BeforeAttrName;
      }
      return true;
    }
    S.ScriptData = TScriptData::Escaped;
  } else if (delimiter && S.ScriptTail == "<script" && S.ScriptData == TScriptData::Escaped) {
    S.ScriptData = TScriptData::DoubleEscaped;
  }
  std::string t = S.ScriptTail + Lower(c);
  const auto endsWith = [&t](const char* q) {
    const std::string seq(q);
    return t.size() >= seq.size() && t.compare(t.size() - seq.size(), seq.size(), seq) == 0;
  };
  if (S.ScriptData == TScriptData::Normal && endsWith("<!--")) {
    S.ScriptData = TScriptData::Escaped;
  } else if (S.ScriptData != TScriptData::Normal && endsWith("-->")) {
    S.ScriptData = TScriptData::Normal;
  }
  size_t from = 0;
  while (from < t.size() && !BeginsSequence(t, from)) ++from;
  S.ScriptTail = t.substr(from);
  return false;
}

bool ScriptStep(THtmlState& S, unsigned char c, std::string& Problem) {
  if (!ScriptDataStep(S, c)) JsStep(S.Js, c, Problem);
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
    DataStep,         TagOpenStep,       EndTagOpenStep,      TagNameStep,      BeforeAttrNameStep,
    AttrNameStep,     AfterAttrNameStep, BeforeAttrValueStep, AttrValueStep,    AfterAttrValueStep,
    SelfClosingStep,  MarkupDeclStep,    CommentStep,         BogusCommentStep, RawTextStep,
    RawTextStep,      ScriptStep,        StyleStep,           PlaintextStep,    CDataStep,
    BetweenAttrsStep,
};
static_assert(sizeof kSteps / sizeof kSteps[0] == static_cast<size_t>(THtmlMode::BetweenAttrs) + 1,
              "one step function per mode");

void Step(THtmlState& S, unsigned char c, std::string& Problem) {
  S.EatsNewline = false;
  while (kSteps[static_cast<size_t>(S.Mode)](S, c, Problem)) {
  }
}

TWrap WrapOf(const THtmlState& S) {
  return S.Quote == 0 ? TWrap::Unquoted : TWrap::Quoted;
}

TInner JsInner(const TJsState& Js) {
  switch (Js.Mode) {
    case TJsMode::Expr:
      return TInner::JsValue;
    case TJsMode::Regexp:
    case TJsMode::RegexpClass:
      return TInner::JsRegexp;
    default:
      return TInner::JsString;
  }
}

// A value in a script: JavaScript, kept from completing the sequences of the
// script data states with the text around it.
TEscape ScriptValueAt(THtmlState& S, TEscape E, std::string& Problem) {
  S.Js.BeforeValue(Problem);
  E.Inner = JsInner(S.Js);
  E.Where = "a script";
  E.RawIsRisky = true;
  if (!S.ScriptTail.empty()) {
    if (S.Js.Mode == TJsMode::Expr) {
      E.SpaceBefore = true;
    } else if (S.ScriptTail[0] == '<' || S.ScriptData != TScriptData::Normal) {
      Problem = "a value right after \"" + S.ScriptTail +
                "\" in a script could complete \"<!--\", \"-->\", \"<script\" or \"</script\" "
                "with the text around it";
    }
  }
  E.EscapeDashes = S.ScriptData != TScriptData::Normal;
  S.ScriptTail.clear();
  S.Js.AfterValue();
  return E;
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
    case TUrlPart::Unknown:
      E.Inner = TInner::Forbidden;
      Problem =
          "a value in a URL after ways through a condition that end in different parts of it "
          "(the path on one, the query on another): it cannot be escaped for both";
      break;
  }
}

// A value in an attribute's value, by the kind of the attribute.
TEscape AttrValueAt(THtmlState& S, TEscape E, std::string& Problem) {
  E.Wrap = WrapOf(S);
  E.Inner = TInner::None;
  E.Where = "an attribute value";
  if (!S.CharRef.empty()) {
    E.Inner = TInner::Forbidden;
    Problem = "a value right after \"" + S.CharRef +
              "\" could complete a character reference that the browser decodes before it "
              "reads the attribute";
    return E;
  }
  if (S.Anim != TAnimTarget::None && S.AttrName == "attributename") S.Anim = TAnimTarget::Unknown;
  switch (S.Attr) {
    case TAttrKind::Event:
      S.Js.BeforeValue(Problem);
      E.Inner = JsInner(S.Js);
      E.Where = "an event handler attribute";
      E.RawIsRisky = true;
      S.Js.AfterValue();
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
    case TAttrKind::UrlList:
      UrlValueAt(S, E, Problem);
      break;
    case TAttrKind::Unknown:
      E.Inner = TInner::Forbidden;
      Problem =
          "a value in values, from, to or by of an SVG animation whose attributeName is not "
          "known before it: it may animate a URL (href); write attributeName first, as text";
      break;
    case TAttrKind::Normal:
      break;
  }
  return E;
}

}  // namespace

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
      if (S.ForeignCode) {
        e.Inner = TInner::Forbidden;
        e.Where = "an SVG or MathML script or style";
        Problem =
            "a value in a <script> or <style> inside SVG or MathML, whose text the browser "
            "reads as markup before it runs it: move it out of the <svg>";
      } else {
        e.Markup = true;
      }
      return e;
    case THtmlMode::Plaintext:
      return e;
    case THtmlMode::Rcdata:
    case THtmlMode::RawText:
      e.Where = "the text of a title, textarea or raw text element";
      return e;
    case THtmlMode::CData:
      e.Where = "a CDATA section";
      return e;
    case THtmlMode::Comment:
    case THtmlMode::MarkupDecl:
    case THtmlMode::BogusComment:
      e.Inner = TInner::Comment;
      e.Where = "an HTML comment";
      return e;
    case THtmlMode::Script:
      return ScriptValueAt(S, e, Problem);
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
