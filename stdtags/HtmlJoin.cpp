// The join of the HTML contexts at the end of a condition's or loop's ways.
#include "HtmlJoin.h"

namespace vekstd {

namespace {

// Places in a tag where blanks, '/', '>' and a name mean the same.
bool BetweenAttributes(THtmlMode M) {
  return M == THtmlMode::TagName || M == THtmlMode::BeforeAttrName || M == THtmlMode::AttrName ||
         M == THtmlMode::AfterAttrName || M == THtmlMode::AfterAttrValue ||
         M == THtmlMode::BetweenAttrs;
}

// The tag whose attributes A and B are between, when it is the same tag.
bool JoinBetweenAttributes(const THtmlState& A, const THtmlState& B, THtmlState& Out) {
  if (!BetweenAttributes(A.Mode) || !BetweenAttributes(B.Mode) || A.EndTag != B.EndTag ||
      A.Foreign != B.Foreign || A.ForeignCode != B.ForeignCode)
    return false;
  // A tag name ends at a blank: "<a" and "<a title=x" are the same tag only
  // when the name was read whole on the way still inside it.
  if (A.TagName != B.TagName) return false;
  Out = A;
  Out.Mode = THtmlMode::BetweenAttrs;
  Out.AttrName.clear();
  Out.AttrText.clear();
  Out.Attr = TAttrKind::Normal;
  // A name still open on one way (the tag's, an attribute's) would be
  // continued by a name byte on that way only.
  const auto nameOpen = [](const THtmlState& S) {
    return S.Mode == THtmlMode::TagName || S.Mode == THtmlMode::AttrName ||
           (S.Mode == THtmlMode::BetweenAttrs && S.Matched == 1);
  };
  Out.Matched = nameOpen(A) || nameOpen(B) ? 1 : 0;
  if (A.Mode == THtmlMode::TagName || B.Mode == THtmlMode::TagName) {
    // Whatever an animation element learnt on the other way applies only
    // once the name has ended on this one.
    Out.Anim = A.Anim == B.Anim ? A.Anim : TAnimTarget::Unknown;
    if (Out.Anim == TAnimTarget::None &&
        (A.Anim != TAnimTarget::None || B.Anim != TAnimTarget::None))
      Out.Anim = TAnimTarget::Unknown;
  } else if (A.Anim != B.Anim) {
    Out.Anim = TAnimTarget::Unknown;
  }
  return true;
}

// The same attribute value on both ways, differing in its language's state.
bool JoinInAttribute(const THtmlState& A, const THtmlState& B, THtmlState& Out) {
  if (A.Mode != THtmlMode::AttrValue || B.Mode != THtmlMode::AttrValue ||
      A.AttrName != B.AttrName || A.Attr != B.Attr || A.Quote != B.Quote ||
      A.CharRef != B.CharRef || A.TagName != B.TagName || A.Anim != B.Anim ||
      A.AttrText != B.AttrText || A.Css != B.Css || A.Foreign != B.Foreign)
    return false;
  Out = A;
  if (A.Attr == TAttrKind::Event) return JoinJs(A.Js, B.Js, Out.Js) && A.Url == B.Url;
  if (A.Js != B.Js) return false;
  Out.Url = JoinUrl(A.Url, B.Url);
  return true;
}

// The same script on both ways, differing in what a '/' would be.
bool JoinInScript(const THtmlState& A, const THtmlState& B, THtmlState& Out) {
  if (A.Mode != THtmlMode::Script || B.Mode != THtmlMode::Script || A.ScriptData != B.ScriptData ||
      A.ScriptTail != B.ScriptTail || A.Foreign != B.Foreign)
    return false;
  Out = A;
  return JoinJs(A.Js, B.Js, Out.Js);
}

}  // namespace

THtmlJoin JoinHtml(const THtmlState& A, const THtmlState& B) {
  THtmlJoin j;
  if (A == B || JoinBetweenAttributes(A, B, j.State) || JoinInAttribute(A, B, j.State) ||
      JoinInScript(A, B, j.State)) {
    if (A == B) j.State = A;
    j.State.EatsNewline = A.EatsNewline && B.EatsNewline;
    j.Joined = true;
    return j;
  }
  j.Conflict = A.Describe() + " on one way and " + B.Describe() + " on another";
  return j;
}

bool JoinsInto(const THtmlState& Into, const THtmlState& From) {
  const THtmlJoin j = JoinHtml(Into, From);
  if (!j.Joined || j.State.Mode != Into.Mode) return false;
  THtmlState joined = j.State;
  if (joined.Js.Slash == Into.Js.Slash && joined.Js.Mode == TJsMode::Expr) {
    joined.Js.Last = Into.Js.Last;
    joined.Js.Word = Into.Js.Word;
    joined.Js.RunOdd = Into.Js.RunOdd;
    joined.Js.LineStart = Into.Js.LineStart;
  }
  return joined == Into;
}

}  // namespace vekstd
