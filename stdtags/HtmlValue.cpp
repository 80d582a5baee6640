// The escaping of a value at a state of the HTML context tokenizer: by the
// place it stands in, the language there, and what the text around it could
// make of it. See docs/escaping.md.
#include "HtmlContext.h"
#include "HtmlTags.h"

namespace vekstd {

namespace {

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

// A value in CSS: a filtered value, a string, or a url().
void CssValueAt(THtmlState& S, TEscape& E, std::string& Problem) {
  E.RawIsRisky = true;
  TCssState& css = S.Css;
  switch (css.Mode) {
    case TCssMode::Value:
      E.Inner = TInner::CssValue;
      break;
    case TCssMode::SingleQuote:
    case TCssMode::DoubleQuote:
    case TCssMode::Comment:
      E.Inner = TInner::Css;
      break;
    default:
      switch (css.Url.Part) {
        case TUrlPart::Start:
        case TUrlPart::Scheme:
          E.Inner = TInner::CssUrlStart;
          E.UrlPrefix = css.Url.Prefix;
          css.Url.Part = TUrlPart::AfterValue;
          css.Url.Prefix.clear();
          break;
        case TUrlPart::BadScheme:
          E.Inner = TInner::Forbidden;
          Problem = "a value in a CSS url() whose scheme is not http, https, mailto or tel";
          break;
        case TUrlPart::Unknown:
          E.Inner = TInner::Forbidden;
          Problem =
              "a value in a CSS url() after ways through a condition that end in different "
              "parts of it";
          break;
        default:
          E.Inner = TInner::CssUrlPart;
          break;
      }
      if (css.Mode == TCssMode::UrlOpen) css.Mode = TCssMode::Url;
      break;
  }
  css.BreakPending();
}

// A value in a URL attribute, by the part of the URL reached.
void UrlValueAt(THtmlState& S, TEscape& E, std::string& Problem) {
  E.Where = "a URL attribute";
  E.RawIsRisky = true;
  switch (S.Url.Part) {
    case TUrlPart::Start:
    case TUrlPart::Scheme:
      E.Inner = S.Attr == TAttrKind::Srcset ? TInner::Srcset : TInner::UrlStart;
      E.UrlPrefix = S.Url.Prefix;
      S.Url.Part = TUrlPart::AfterValue;
      S.Url.Prefix.clear();
      break;
    case TUrlPart::AfterValue:
    case TUrlPart::Query:
      E.Inner = TInner::UrlComponent;
      break;
    case TUrlPart::Path:
      // In a srcset a ',' or a blank would begin another candidate.
      if (S.Attr == TAttrKind::Srcset) E.Inner = TInner::UrlComponent;
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
      E.Where = "a style attribute";
      CssValueAt(S, E, Problem);
      break;
    case TAttrKind::Srcset:
      UrlValueAt(S, E, Problem);
      E.Where = "a srcset attribute";
      break;
    case TAttrKind::MetaContent:
      E.Where = "the content of a meta element";
      E.RawIsRisky = true;
      if (S.Url.Part != TUrlPart::Start) {
        E.Inner = TInner::Forbidden;
        Problem = S.Url.Part == TUrlPart::AfterValue
                      ? "a second value in a meta element's content: a refresh's URL could not be "
                        "judged"
                      : "a value after more than 64 bytes of a meta element's content";
        break;
      }
      E.Inner = TInner::MetaRefresh;
      E.UrlPrefix = S.Url.Prefix;
      S.Url.Part = TUrlPart::AfterValue;
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
      if (S.Matched > 0) {
        e.Inner = TInner::Forbidden;
        Problem = "a value right after \"<\" or \"</\" in <" + S.TagName +
                  "> could end the element with the text around it";
      }
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
      e.Where = "a style sheet";
      CssValueAt(S, e, Problem);
      return e;
    case THtmlMode::BeforeAttrValue:
      StartAttrValue(S, 0);
      e = AttrValueAt(S, e, Problem);
      e.NeverEmpty = true;
      return e;
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
