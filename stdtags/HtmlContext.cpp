// The HTML context tokenizer: a small subset of the browser's tokenizer
// (start and end tags, attributes, comments, raw text elements), with a
// JavaScript and a CSS lexer just precise enough to tell string literals and
// comments from the rest. See docs/escaping.md.
#include "HtmlContext.h"

#include <cstring>

namespace vekstd {

namespace {

enum THtmlMode : uint8_t {
  hmData,
  hmTagOpen,
  hmEndTagOpen,
  hmTagName,
  hmBeforeAttrName,
  hmAttrName,
  hmAfterAttrName,
  hmBeforeAttrValue,
  hmAttrValue,
  hmAfterAttrValue,
  hmSelfClosing,
  hmMarkupDecl,
  hmComment,
  hmBogusComment,
  hmRcdata,   // title, textarea
  hmRawText,  // xmp, iframe, noembed, noframes, noscript
  hmScript,
  hmStyle,
  hmPlaintext,
};

enum TAttrKind : uint8_t { akNormal, akUrl, akEvent, akStyle, akHtml };

enum TJsState : uint8_t { jsExpr, jsSingle, jsDouble, jsTemplate, jsLineComment, jsBlockComment };
enum TJsFlag : uint8_t { jfNone, jfBackslash, jfSlash, jfStar, jfDollar };

enum TCssState : uint8_t { csValue, csSingle, csDouble, csComment };

enum TUrlPart : uint8_t {
  upStart,       // nothing but blanks yet
  upScheme,      // literal bytes that may still become a scheme
  upAfterValue,  // a value stood where the scheme is still open
  upPath,        // scheme settled (an allowed one, or none)
  upQuery,       // after '?' or '#'
  upBadScheme,   // a literal scheme that is not allowed
};

const size_t kMaxTagName = 16, kMaxAttrName = 32, kMaxUrlPrefix = 64;

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
  if (n.size() > 2 && n[0] == 'o' && n[1] == 'n') return akEvent;
  if (n == "style") return akStyle;
  if (n == "srcdoc") return akHtml;
  static const char* const urls[] = {"href",    "src",      "action",     "formaction", "poster",
                                     "cite",    "data",     "background", "codebase",   "longdesc",
                                     "usemap",  "manifest", "icon",       "profile",    "classid",
                                     "archive", "dynsrc",   "lowsrc",     "ping",       "itemtype"};
  for (const char* u : urls) {
    if (n == u) return akUrl;
  }
  return akNormal;
}

// The raw text element a start tag opens, if any.
uint8_t ModeAfterStartTag(const std::string& Tag) {
  if (Tag == "script") return hmScript;
  if (Tag == "style") return hmStyle;
  if (Tag == "title" || Tag == "textarea") return hmRcdata;
  if (Tag == "xmp" || Tag == "iframe" || Tag == "noembed" || Tag == "noframes" || Tag == "noscript")
    return hmRawText;
  if (Tag == "plaintext") return hmPlaintext;
  return hmData;
}

void JsFeed(THtmlState& S, unsigned char c) {
  const uint8_t flag = S.JsFlag;
  S.JsFlag = jfNone;
  switch (S.Js) {
    case jsExpr:
      if (flag == jfSlash && c == '/') {
        S.Js = jsLineComment;
      } else if (flag == jfSlash && c == '*') {
        S.Js = jsBlockComment;
      } else if (c == '\'') {
        S.Js = jsSingle;
      } else if (c == '"') {
        S.Js = jsDouble;
      } else if (c == '`') {
        S.Js = jsTemplate;
      } else if (c == '/') {
        S.JsFlag = jfSlash;
      } else if (c == '{' && S.TplDepth > 0) {
        ++S.Braces[S.TplDepth - 1];
      } else if (c == '}' && S.TplDepth > 0) {
        if (S.Braces[S.TplDepth - 1] == 0) {
          --S.TplDepth;
          S.Js = jsTemplate;
        } else {
          --S.Braces[S.TplDepth - 1];
        }
      }
      break;
    case jsSingle:
    case jsDouble:
      if (flag == jfBackslash) break;
      if (c == '\\') {
        S.JsFlag = jfBackslash;
      } else if (c == (S.Js == jsSingle ? '\'' : '"') || c == '\n' || c == '\r') {
        S.Js = jsExpr;
      }
      break;
    case jsTemplate:
      if (flag == jfBackslash) break;
      if (c == '\\') {
        S.JsFlag = jfBackslash;
      } else if (c == '`') {
        S.Js = jsExpr;
      } else if (c == '$') {
        S.JsFlag = jfDollar;
      } else if (c == '{' && flag == jfDollar) {
        if (S.TplDepth < sizeof S.Braces) {
          S.Braces[S.TplDepth++] = 0;
          S.Js = jsExpr;
        }
        // Deeper nesting is taken as the literal's text: a value there is
        // escaped as a string, which cannot end the literal either.
      }
      break;
    case jsLineComment:
      if (c == '\n' || c == '\r') S.Js = jsExpr;
      break;
    case jsBlockComment:
      if (c == '*') {
        S.JsFlag = jfStar;
      } else if (c == '/' && flag == jfStar) {
        S.Js = jsExpr;
      }
      break;
  }
}

void CssFeed(THtmlState& S, unsigned char c) {
  const uint8_t flag = S.CssFlag;
  S.CssFlag = jfNone;
  switch (S.Css) {
    case csValue:
      if (c == '*' && flag == jfSlash) {
        S.Css = csComment;
      } else if (c == '/') {
        S.CssFlag = jfSlash;
      } else if (c == '"') {
        S.Css = csDouble;
      } else if (c == '\'') {
        S.Css = csSingle;
      }
      break;
    case csSingle:
    case csDouble:
      if (flag == jfBackslash) break;
      if (c == '\\') {
        S.CssFlag = jfBackslash;
      } else if (c == (S.Css == csSingle ? '\'' : '"') || c == '\n') {
        S.Css = csValue;
      }
      break;
    case csComment:
      if (c == '*') {
        S.CssFlag = jfStar;
      } else if (c == '/' && flag == jfStar) {
        S.Css = csValue;
      }
      break;
  }
}

bool AllowedScheme(const std::string& Scheme) {
  return Scheme == "http" || Scheme == "https" || Scheme == "mailto" || Scheme == "tel";
}

void UrlFeed(THtmlState& S, unsigned char c, std::string& Problem) {
  switch (S.Url) {
    case upStart:
    case upScheme:
      if (S.Url == upStart && c <= 32) {
        if (S.UrlPrefix.size() < kMaxUrlPrefix) S.UrlPrefix += static_cast<char>(c);
        break;
      }
      S.Url = upScheme;
      if (c == ':') {
        // The literal bytes before decide: a scheme, allowed or not, or a
        // relative reference whose first segment holds a colon.
        std::string scheme;
        bool valid = true;
        for (const char b : S.UrlPrefix) {
          const unsigned char u = static_cast<unsigned char>(b);
          if (u <= 32) continue;
          if (!(IsAlpha(u) || (!scheme.empty() &&
                               ((u >= '0' && u <= '9') || u == '+' || u == '-' || u == '.')))) {
            valid = false;
            break;
          }
          scheme += Lower(u);
        }
        S.Url = !valid || scheme.empty() || AllowedScheme(scheme) ? upPath : upBadScheme;
        S.UrlPrefix.clear();
      } else if (c == '/') {
        S.Url = upPath;
        S.UrlPrefix.clear();
      } else if (c == '?' || c == '#') {
        S.Url = upQuery;
        S.UrlPrefix.clear();
      } else if (S.UrlPrefix.size() < kMaxUrlPrefix) {
        S.UrlPrefix += static_cast<char>(c);
      } else {
        // Too long to be judged with the value: taken as if a value stood
        // here, so that later values are percent-encoded.
        S.Url = upAfterValue;
        S.UrlPrefix.clear();
      }
      break;
    case upAfterValue:
      if (c == ':') {
        Problem = "a ':' after a value at the start of a URL lets the value choose the scheme";
      } else if (c == '/') {
        S.Url = upPath;
      } else if (c == '?' || c == '#') {
        S.Url = upQuery;
      }
      break;
    case upPath:
      if (c == '?' || c == '#') S.Url = upQuery;
      break;
    default:
      break;
  }
}

// Feeds one byte of an attribute value to the language of the attribute.
void AttrValueFeed(THtmlState& S, unsigned char c, std::string& Problem) {
  switch (S.Attr) {
    case akUrl:
      UrlFeed(S, c, Problem);
      break;
    case akEvent:
      JsFeed(S, c);
      break;
    case akStyle:
      CssFeed(S, c);
      break;
    default:
      break;
  }
}

void StartAttrValue(THtmlState& S, uint8_t Quote) {
  S.Mode = hmAttrValue;
  S.Quote = Quote;
  S.Js = jsExpr;
  S.JsFlag = jfNone;
  S.TplDepth = 0;
  S.Css = csValue;
  S.CssFlag = jfNone;
  S.Url = upStart;
  S.UrlPrefix.clear();
}

// The end of a tag: element text, or the raw text of the element it opens.
// Nothing of the tag is kept, so that equal places compare equal.
void EmitTag(THtmlState& S) {
  const uint8_t mode = S.EndTag ? static_cast<uint8_t>(hmData) : ModeAfterStartTag(S.TagName);
  const std::string tag = S.TagName;
  S = THtmlState();
  S.Mode = mode;
  S.EatsNewline = tag == "textarea" || tag == "pre" || tag == "listing";
  if (mode != hmData) S.TagName = tag;
}

// Within raw text, RCDATA or a script: whether c continues "</name", and
// whether the end tag is complete (Sub counts "<", "/", and the name's bytes).
bool EndTagStep(THtmlState& S, unsigned char c) {
  const size_t matched = S.Sub >= 2 ? S.Sub - 2u : 0u;
  if (S.Sub == 0) {
    if (c == '<') S.Sub = 1;
    return false;
  }
  if (S.Sub == 1) {
    S.Sub = c == '/' ? 2 : (c == '<' ? 1 : 0);
    return false;
  }
  if (matched < S.TagName.size()) {
    if (Lower(c) == S.TagName[matched]) {
      ++S.Sub;
    } else {
      S.Sub = c == '<' ? 1 : 0;
    }
    return false;
  }
  // The whole name: an end tag when a blank, '/' or '>' follows.
  if (IsHtmlBlank(c) || c == '/' || c == '>') {
    if (c == '>') {
      S = THtmlState();
      return true;
    }
    const std::string tag = S.TagName;
    S = THtmlState();
    S.EndTag = true;
    S.TagName = tag;
    S.Mode = c == '/' ? hmSelfClosing : hmBeforeAttrName;
    return true;
  }
  S.Sub = c == '<' ? 1 : 0;
  return false;
}

void Step(THtmlState& S, unsigned char c, std::string& Problem) {
  S.EatsNewline = false;
  for (;;) {  // a state that hands the byte on to the next one loops once more
    switch (S.Mode) {
      case hmData:
        if (c == '<') S.Mode = hmTagOpen;
        return;
      case hmPlaintext:
        return;
      case hmTagOpen:
        if (IsAlpha(c)) {
          S.Mode = hmTagName;
          S.EndTag = false;
          S.TagName.assign(1, Lower(c));
        } else if (c == '/') {
          S.Mode = hmEndTagOpen;
        } else if (c == '!') {
          S.Mode = hmMarkupDecl;
          S.Sub = 0;
        } else if (c == '?') {
          S.Mode = hmBogusComment;
        } else {
          S.Mode = hmData;
          continue;
        }
        return;
      case hmEndTagOpen:
        if (IsAlpha(c)) {
          S.Mode = hmTagName;
          S.EndTag = true;
          S.TagName.assign(1, Lower(c));
        } else {
          S.Mode = c == '>' ? hmData : hmBogusComment;
        }
        return;
      case hmTagName:
        if (IsHtmlBlank(c)) {
          S.Mode = hmBeforeAttrName;
        } else if (c == '/') {
          S.Mode = hmSelfClosing;
        } else if (c == '>') {
          EmitTag(S);
        } else if (S.TagName.size() < kMaxTagName) {
          S.TagName += Lower(c);
        }
        return;
      case hmBeforeAttrName:
        if (IsHtmlBlank(c)) return;
        if (c == '/' || c == '>') {
          S.Mode = hmAfterAttrName;
          continue;
        }
        S.Mode = hmAttrName;
        S.AttrName.assign(1, Lower(c));
        return;
      case hmAttrName:
        if (IsHtmlBlank(c) || c == '/' || c == '>') {
          S.Mode = hmAfterAttrName;
          continue;
        }
        if (c == '=') {
          S.Mode = hmBeforeAttrValue;
          S.Attr = AttrKindOf(S.AttrName);
        } else if (S.AttrName.size() < kMaxAttrName) {
          S.AttrName += Lower(c);
        }
        return;
      case hmAfterAttrName:
        if (IsHtmlBlank(c)) return;
        if (c == '/') {
          S.Mode = hmSelfClosing;
        } else if (c == '=') {
          S.Mode = hmBeforeAttrValue;
          S.Attr = AttrKindOf(S.AttrName);
        } else if (c == '>') {
          EmitTag(S);
        } else {
          S.Mode = hmAttrName;
          S.AttrName.assign(1, Lower(c));
        }
        return;
      case hmBeforeAttrValue:
        if (IsHtmlBlank(c)) return;
        if (c == '"' || c == '\'') {
          StartAttrValue(S, c);
        } else if (c == '>') {
          EmitTag(S);
        } else {
          StartAttrValue(S, 0);
          continue;
        }
        return;
      case hmAttrValue:
        if (S.Quote != 0 && c == S.Quote) {
          S.Mode = hmAfterAttrValue;
        } else if (S.Quote == 0 && IsHtmlBlank(c)) {
          S.Mode = hmBeforeAttrName;
        } else if (S.Quote == 0 && c == '>') {
          EmitTag(S);
        } else {
          AttrValueFeed(S, c, Problem);
          return;
        }
        S.AttrName.clear();
        S.Attr = akNormal;
        return;
      case hmAfterAttrValue:
        if (IsHtmlBlank(c)) {
          S.Mode = hmBeforeAttrName;
        } else if (c == '/') {
          S.Mode = hmSelfClosing;
        } else if (c == '>') {
          EmitTag(S);
        } else {
          S.Mode = hmBeforeAttrName;
          continue;
        }
        return;
      case hmSelfClosing:
        if (c == '>') {
          EmitTag(S);
          return;
        }
        S.Mode = hmBeforeAttrName;
        continue;
      case hmMarkupDecl:
        if (c == '-' && S.Sub == 0) {
          S.Sub = 1;
        } else if (c == '-') {
          S.Mode = hmComment;
          S.Sub = 0;
        } else {
          S.Mode = hmBogusComment;
          continue;
        }
        return;
      case hmComment:
        // Sub: 0 just opened, 1 "-" just after opening, 2 inside, 3 "-",
        // 4 "--", 5 "--!".
        switch (S.Sub) {
          case 0:
            S.Sub = c == '-' ? 1 : 2;
            if (c == '>') S.Mode = hmData;
            break;
          case 1:
            S.Sub = c == '-' ? 4 : 2;
            if (c == '>') S.Mode = hmData;
            break;
          case 2:
            if (c == '-') S.Sub = 3;
            break;
          case 3:
            S.Sub = c == '-' ? 4 : 2;
            break;
          case 4:
            if (c == '>') {
              S.Mode = hmData;
            } else if (c == '!') {
              S.Sub = 5;
            } else if (c != '-') {
              S.Sub = 2;
            }
            break;
          default:
            S.Sub = c == '-' ? 3 : 2;
            if (c == '>') S.Mode = hmData;
            break;
        }
        if (S.Mode == hmData) S.Sub = 0;
        return;
      case hmBogusComment:
        if (c == '>') S.Mode = hmData;
        return;
      case hmRcdata:
      case hmRawText:
        EndTagStep(S, c);
        return;
      case hmScript:
        if (!EndTagStep(S, c)) JsFeed(S, c);
        return;
      case hmStyle:
        if (!EndTagStep(S, c)) CssFeed(S, c);
        return;
      default:
        return;
    }
  }
}

TWrap WrapOf(const THtmlState& S) {
  return S.Quote == 0 ? TWrap::Unquoted : TWrap::Quoted;
}

TInner JsInner(const THtmlState& S) {
  return S.Js == jsExpr ? TInner::JsValue : TInner::JsString;
}

}  // namespace

bool THtmlState::operator==(const THtmlState& O) const {
  return Mode == O.Mode && Sub == O.Sub && Attr == O.Attr && Quote == O.Quote && Js == O.Js &&
         JsFlag == O.JsFlag && Css == O.Css && CssFlag == O.CssFlag && Url == O.Url &&
         TplDepth == O.TplDepth && std::memcmp(Braces, O.Braces, sizeof Braces) == 0 &&
         EndTag == O.EndTag && TagName == O.TagName && AttrName == O.AttrName &&
         UrlPrefix == O.UrlPrefix;
}

std::string THtmlState::Key() const {
  std::string k;
  for (const uint8_t b : {Mode, Sub, Attr, Quote, Js, JsFlag, Css, CssFlag, Url, TplDepth})
    k += static_cast<char>(b);
  k.append(reinterpret_cast<const char*>(Braces), sizeof Braces);
  k += EndTag ? '1' : '0';
  k += EatsNewline ? '1' : '0';
  for (const std::string* s : {&TagName, &AttrName, &UrlPrefix}) {
    k += static_cast<char>(s->size());
    k += *s;
  }
  return k;
}

std::string THtmlState::Describe() const {
  switch (Mode) {
    case hmData:
    case hmPlaintext:
      return "element text";
    case hmRcdata:
    case hmRawText:
      return "the text of <" + TagName + ">";
    case hmScript:
      return Js == jsExpr ? "a script" : "a string or comment of a script";
    case hmStyle:
      return "a style sheet";
    case hmComment:
    case hmMarkupDecl:
    case hmBogusComment:
      return "an HTML comment";
    case hmAttrValue:
      return "the value of the attribute " + AttrName;
    case hmBeforeAttrValue:
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
    case hmData:
    case hmPlaintext:
      return e;
    case hmRcdata:
    case hmRawText:
      e.Where = "the text of a title, textarea or raw text element";
      return e;
    case hmComment:
    case hmMarkupDecl:
    case hmBogusComment:
      e.Inner = TInner::Comment;
      e.Where = "an HTML comment";
      return e;
    case hmScript:
      e.Inner = JsInner(S);
      e.Where = "a script";
      e.RawIsRisky = true;
      S.JsFlag = jfNone;
      return e;
    case hmStyle:
      e.Inner = TInner::Css;
      e.Where = "a style sheet";
      e.RawIsRisky = true;
      S.CssFlag = jfNone;
      return e;
    case hmBeforeAttrValue:
      StartAttrValue(S, 0);
      break;
    case hmAttrValue:
      break;
    default:
      e.Inner = TInner::Forbidden;
      e.Where = "a tag";
      Problem = "a value inside a tag must be an attribute's value, as in name=\"<value>\"";
      return e;
  }
  // An attribute value.
  e.Wrap = WrapOf(S);
  e.Inner = TInner::None;
  e.Where = "an attribute value";
  switch (S.Attr) {
    case akEvent:
      e.Inner = JsInner(S);
      e.Where = "an event handler attribute";
      e.RawIsRisky = true;
      S.JsFlag = jfNone;
      break;
    case akStyle:
      e.Inner = TInner::Css;
      e.Where = "a style attribute";
      e.RawIsRisky = true;
      S.CssFlag = jfNone;
      break;
    case akHtml:
      e.Inner = TInner::Html;
      e.Where = "an HTML document attribute (srcdoc)";
      e.RawIsRisky = true;
      break;
    case akUrl:
      e.Where = "a URL attribute";
      e.RawIsRisky = true;
      switch (S.Url) {
        case upStart:
        case upScheme:
          e.Inner = TInner::UrlStart;
          e.UrlPrefix = S.UrlPrefix;
          S.Url = upAfterValue;
          S.UrlPrefix.clear();
          break;
        case upAfterValue:
        case upQuery:
          e.Inner = TInner::UrlComponent;
          break;
        case upPath:
          break;
        default:
          e.Inner = TInner::Forbidden;
          Problem = "a value in a URL whose scheme is not http, https, mailto or tel";
          break;
      }
      break;
    default:
      break;
  }
  return e;
}

}  // namespace vekstd
