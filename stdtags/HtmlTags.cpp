// Tags and attributes as the HTML context tokenizer reads them: attribute
// kinds, raw text elements, SVG and MathML (foreign content), animations.
#include "HtmlTags.h"

namespace vekstd {

namespace {

bool OneOf(const std::string& S, std::initializer_list<const char*> List) {
  for (const char* l : List) {
    if (S == l) return true;
  }
  return false;
}

bool IsUrlAttribute(const std::string& N) {
  return OneOf(
      N, {"href",       "src",      "action",   "formaction", "poster",   "cite",    "data",
          "background", "codebase", "longdesc", "usemap",     "manifest", "icon",    "profile",
          "classid",    "archive",  "dynsrc",   "lowsrc",     "ping",     "itemtype"});
}

// The raw text element a start tag opens in HTML content, if any.
THtmlMode ModeAfterStartTag(const std::string& Tag) {
  if (Tag == "script") return THtmlMode::Script;
  if (Tag == "style") return THtmlMode::Style;
  if (Tag == "title" || Tag == "textarea") return THtmlMode::Rcdata;
  if (OneOf(Tag, {"xmp", "iframe", "noembed", "noframes", "noscript"})) return THtmlMode::RawText;
  if (Tag == "plaintext") return THtmlMode::Plaintext;
  return THtmlMode::Data;
}

// HTML start tags that end SVG and MathML content where they stand.
bool BreaksOutOfForeign(const std::string& Tag) {
  return OneOf(
      Tag, {"b",      "big",  "blockquote", "body",  "br",   "center", "code",    "dd",   "div",
            "dl",     "dt",   "em",         "embed", "h1",   "h2",     "h3",      "h4",   "h5",
            "h6",     "head", "hr",         "i",     "img",  "li",     "listing", "menu", "meta",
            "nobr",   "ol",   "p",          "pre",   "ruby", "s",      "small",   "span", "strong",
            "strike", "sub",  "sup",        "table", "tt",   "u",      "ul",      "var"});
}

// Elements of SVG ('s') or MathML ('m') whose content is HTML again.
bool IsIntegrationPoint(const std::string& Tag, char Space) {
  if (Space == 's') return OneOf(Tag, {"foreignobject", "desc", "title"});
  return Space == 'm' && OneOf(Tag, {"mi", "mo", "mn", "ms", "mtext"});
}

// Leaves the SVG or MathML element innermost.
void PopForeign(std::string& Foreign) {
  while (!Foreign.empty()) {
    const char top = Foreign.back();
    Foreign.pop_back();
    if (top != 'h') return;
  }
}

// A start tag in SVG or MathML. Returns the mode after it (always Data).
void ForeignStartTag(THtmlState& S, const std::string& Tag, bool SelfClosing,
                     std::string& Problem) {
  if (Tag == "font") {
    Problem = "<font> inside SVG or MathML: whether it ends the SVG depends on its attributes";
  } else if (Tag == "annotation-xml") {
    Problem = "<annotation-xml> in MathML: whether its content is HTML depends on its encoding";
  } else if (SelfClosing) {
    return;  // <script/> closes itself here
  } else if (Tag == "svg" || Tag == "math") {
    S.Foreign += Tag == "svg" ? 's' : 'm';
  } else if (IsIntegrationPoint(Tag, S.Foreign.back())) {
    S.Foreign += 'h';
  } else if (Tag == "script" || Tag == "style") {
    // Read as markup, not raw text: a value cannot be placed in it safely.
    S.ForeignCode = true;
  }
}

void EndTagSeen(THtmlState& S, const std::string& Tag) {
  if (Tag == "svg" || Tag == "math") {
    PopForeign(S.Foreign);
  } else if (S.InForeign() && (Tag == "p" || Tag == "br")) {
    while (S.InForeign()) PopForeign(S.Foreign);
  } else if (!S.Foreign.empty() && S.Foreign.back() == 'h' && S.Foreign.size() >= 2 &&
             IsIntegrationPoint(Tag, S.Foreign[S.Foreign.size() - 2])) {
    S.Foreign.pop_back();
  }
  if (Tag == "script" || Tag == "style") S.ForeignCode = false;
}

}  // namespace

TAttrKind AttrKindOf(const THtmlState& S) {
  // A namespace prefix (xlink:href) does not change what the attribute is.
  const std::string& name = S.AttrName;
  const size_t colon = name.rfind(':');
  const std::string n = colon == std::string::npos ? name : name.substr(colon + 1);
  if (n.size() > 2 && n[0] == 'o' && n[1] == 'n') return TAttrKind::Event;
  if (n == "style") return TAttrKind::Style;
  if (n == "srcdoc") return TAttrKind::Html;
  if (IsUrlAttribute(n)) return TAttrKind::Url;
  if (S.Anim != TAnimTarget::None && OneOf(name, {"values", "from", "to", "by"})) {
    switch (S.Anim) {
      case TAnimTarget::Url:
        return name == "values" ? TAttrKind::UrlList : TAttrKind::Url;
      case TAnimTarget::Other:
        return TAttrKind::Normal;
      default:
        return TAttrKind::Unknown;
    }
  }
  return TAttrKind::Normal;
}

void TagNameEnded(THtmlState& S) {
  if (!S.EndTag &&
      OneOf(S.TagName, {"animate", "set", "animatemotion", "animatetransform", "animatecolor"}))
    S.Anim = TAnimTarget::Unset;
}

void AttrValueEnded(THtmlState& S) {
  if (S.Anim != TAnimTarget::None && S.AttrName == "attributename" &&
      S.Anim != TAnimTarget::Unknown) {
    S.Anim =
        S.AttrText == "href" || S.AttrText == "xlink:href" ? TAnimTarget::Url : TAnimTarget::Other;
  }
  S.AttrName.clear();
  S.AttrText.clear();
  S.CharRef.clear();
  S.Attr = TAttrKind::Normal;
  S.Quote = 0;
  S.Js = TJsState();
  S.Css = TCssState();
  S.Url = TUrlState();
}

void ResetAfterTag(THtmlState& S, THtmlMode Mode) {
  std::string foreign = std::move(S.Foreign);
  const bool code = S.ForeignCode;
  S = THtmlState();
  S.Mode = Mode;
  S.Foreign = std::move(foreign);
  S.ForeignCode = code;
}

void EmitTag(THtmlState& S, bool SelfClosing, std::string& Problem) {
  const std::string tag = S.TagName;
  THtmlMode mode = THtmlMode::Data;
  bool eatsNewline = false;
  if (S.EndTag) {
    EndTagSeen(S, tag);
  } else {
    if (S.InForeign() && BreaksOutOfForeign(tag)) {
      while (S.InForeign()) PopForeign(S.Foreign);
    }
    if (S.InForeign()) {
      ForeignStartTag(S, tag, SelfClosing, Problem);
    } else if ((tag == "svg" || tag == "math") && !SelfClosing) {
      S.Foreign += tag == "svg" ? 's' : 'm';
    } else {
      mode = ModeAfterStartTag(tag);
      eatsNewline = tag == "textarea" || tag == "pre" || tag == "listing";
    }
    if (S.Foreign.size() > THtmlState::kMaxForeignDepth) {
      Problem = "SVG and MathML elements nested more than 16 deep";
      S.Foreign.resize(THtmlState::kMaxForeignDepth);
    }
  }
  ResetAfterTag(S, mode);
  S.EatsNewline = eatsNewline;
  if (mode != THtmlMode::Data) S.TagName = tag;
}

}  // namespace vekstd
