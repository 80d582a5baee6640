// The HTML context tokenizer's state compared, keyed and described.
#include "HtmlState.h"

namespace vekstd {

bool THtmlState::operator==(const THtmlState& O) const {
  return Mode == O.Mode && Attr == O.Attr && Quote == O.Quote && Comment == O.Comment &&
         ScriptData == O.ScriptData && Anim == O.Anim && Matched == O.Matched &&
         EndTag == O.EndTag && ForeignCode == O.ForeignCode && TagName == O.TagName &&
         AttrName == O.AttrName && AttrText == O.AttrText && ScriptTail == O.ScriptTail &&
         CharRef == O.CharRef && Foreign == O.Foreign && Js == O.Js && Css == O.Css && Url == O.Url;
}

std::string THtmlState::Key() const {
  std::string k;
  for (const uint8_t b : {static_cast<uint8_t>(Mode), static_cast<uint8_t>(Attr), Quote,
                          static_cast<uint8_t>(Comment), static_cast<uint8_t>(ScriptData),
                          static_cast<uint8_t>(Anim), Matched, static_cast<uint8_t>(EndTag),
                          static_cast<uint8_t>(EatsNewline), static_cast<uint8_t>(ForeignCode)})
    k += static_cast<char>(b);
  for (const std::string* s : {&TagName, &AttrName, &AttrText, &ScriptTail, &CharRef, &Foreign}) {
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
      return ForeignCode ? "the text of a <script> or <style> in SVG" : "element text";
    case THtmlMode::Plaintext:
      return "element text";
    case THtmlMode::Rcdata:
    case THtmlMode::RawText:
      return "the text of <" + TagName + ">";
    case THtmlMode::CData:
      return "a CDATA section";
    case THtmlMode::Script:
      return std::string(Js.Describe()) + " in a <script>";
    case THtmlMode::Style:
      return std::string(Css.Describe()) + " in a <style>";
    case THtmlMode::Comment:
    case THtmlMode::MarkupDecl:
    case THtmlMode::BogusComment:
      return "an HTML comment";
    case THtmlMode::AttrValue:
      switch (Attr) {
        case TAttrKind::Url:
        case TAttrKind::UrlList:
          return std::string(Url.Describe()) + " the attribute " + AttrName;
        case TAttrKind::Event:
          return std::string(Js.Describe()) + " in the attribute " + AttrName;
        case TAttrKind::Style:
          return std::string(Css.Describe()) + " in the attribute " + AttrName;
        default:
          return "the value of the attribute " + AttrName;
      }
    case THtmlMode::BeforeAttrValue:
      return "the start of the value of the attribute " + AttrName;
    case THtmlMode::TagOpen:
    case THtmlMode::EndTagOpen:
      return "the start of a tag";
    case THtmlMode::TagName:
      return "the name of the tag <" + TagName;
    case THtmlMode::AttrName:
    case THtmlMode::AfterAttrName:
      return "the name of the attribute " + AttrName + " in the tag <" + TagName + ">";
    default:
      return "the tag <" + TagName + ">, between attributes";
  }
}

}  // namespace vekstd
